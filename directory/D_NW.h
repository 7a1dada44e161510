// D_NW: the directory layer. Everything the program does with the directory goes through
// these routines; they reach the client library only through its declarations.
#pragma once

#include "directory/D_NW_Errors.h"
#include "directory/D_NW_Session.h"
#include "directory/D_NW_Partitions.h"
#include "directory/D_NW_Format.h"
#include "directory/D_NW_Read.h"
#include "directory/D_NW_Filter.h"
#include "directory/D_NW_Search.h"
#include "directory/D_NW_LoadProblems.h"

// The scans of a tree, for the main window and the command-line report.
#pragma once

#include "scan/PartitionScan.h"
#include "scan/ScanSteps.h"
#include "scan/ServerScan.h"

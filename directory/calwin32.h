// Client library: start-up of the directory client.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "directory/NTypes.h"

namespace vestrel {

// Starts the client. Both arguments are reserved and passed as 0.
NWRCODE ClientInitialize(nuint32 reserved1, nuint32 reserved2);

// The problems the client met while it loaded the workstation's connections: a connection
// whose tree file is missing or broken is left out of the connection scan, and its problem
// is kept as one text naming the file and what is wrong. index counts from 0. The text is
// copied into buffer, cut to bufferLength - 1 bytes and always terminated; *textLength
// (when given) receives its whole length. ERR_NO_MORE_LOAD_PROBLEMS past the last problem,
// ERR_INVALID_PARAMETER without a buffer or with bufferLength 0.
NWRCODE ClientLoadProblem(nuint32 index, nuint32 bufferLength, char* buffer, nuint32* textLength);

// The index (for ClientLoadProblem) of the problem that kept the workstation's primary
// connection from being made: the connection marked primary (else the first one) could
// not be loaded, or the connections themselves could not (a tree file alone counts as the
// primary connection; of the demo trees the first that loads is). ERR_NO_MORE_LOAD_PROBLEMS
// when the primary connection was made or nothing kept it from being made;
// ERR_INVALID_PARAMETER without index.
NWRCODE ClientPrimaryLoadProblem(nuint32* index);

// The sign-in of connections to live directories: a connection that names an account
// (an LDAP bind DN) but no password source of its own asks this function, while the
// client loads the workstation's connections, for the password of account. connection
// names the server and the tree as messages name them ("ldaps://dir.example.com
// (ACME_TREE)"). refusal is empty when the password is asked for the first time; when the
// server refused the password given, the client asks again with the server's refusal
// ("sign-in as cn=admin,o=acme failed: Invalid credentials"), kSignInTries passwords in
// all. It returns false when no password is given; the connection is then left out with
// a load problem (the server's refusal, when there was one). The client keeps the
// password in memory only. Install it before the first call that loads the connections;
// an empty function removes it (such connections are then left out).
using ClientPasswordPrompt = std::function<bool(const std::string& connection, const std::string& account,
                                                const std::string& refusal, std::string& password)>;
inline constexpr int kSignInTries = 3;
void ClientSetPasswordPrompt(ClientPasswordPrompt prompt);

// The password in a password file of the user's own, as the connections' "passwordFile"
// reads it: the first line of a small regular file nobody else may read. false with the
// problem in words (the file named) when the file may not or cannot be used.
bool ClientReadPasswordFile(const std::string& path, std::string& password, std::string& problem);

// A time limit for everything the client does from now on (0: none): no wait for a
// server goes on past it, and requests after it fail at once with a timeout.
void ClientSetTimeLimit(std::chrono::milliseconds limit);

// Called while a request waits for a server's answer, at least every 50 ms, so a window
// can let its messages run; when it returns false, the request is given up and its call
// fails with ERR_REQUEST_CANCELLED. An empty function removes it (a wait is then one
// blocking wait, as a program without a window wants).
using ClientWaitHook = std::function<bool()>;
void ClientSetWaitHook(ClientWaitHook hook);

}  // namespace vestrel

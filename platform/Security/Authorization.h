#pragma once

// The subset of the Security framework's Authorization Services that Salvix Setup calls,
// on Linux. The one right known is the administrator right; it is obtained through
// polkit's "pkexec" found on the search path, whose prompt stands in for the system's
// and which starts the program. Where pkexec is missing, the right is refused.

#include <cstddef>
#include <cstdint>
#include <cstdio>

using OSStatus = int32_t;
using AuthorizationFlags = uint32_t;
using AuthorizationString = const char*;

struct AuthorizationOpaqueRef;
using AuthorizationRef = AuthorizationOpaqueRef*;

struct AuthorizationItem
{
    AuthorizationString name;
    size_t valueLength;
    void* value;
    uint32_t flags;
};

struct AuthorizationItemSet
{
    uint32_t count;
    AuthorizationItem* items;
};
using AuthorizationRights = AuthorizationItemSet;
using AuthorizationEnvironment = AuthorizationItemSet;

constexpr AuthorizationFlags kAuthorizationFlagDefaults = 0;
constexpr AuthorizationFlags kAuthorizationFlagInteractionAllowed = 1 << 0;
constexpr AuthorizationFlags kAuthorizationFlagExtendRights = 1 << 1;
constexpr AuthorizationFlags kAuthorizationFlagPreAuthorize = 1 << 4;

constexpr const AuthorizationEnvironment* kAuthorizationEmptyEnvironment = nullptr;
constexpr AuthorizationString kAuthorizationRightExecute = "system.privilege.admin";

constexpr OSStatus errAuthorizationSuccess = 0;
constexpr OSStatus errAuthorizationInvalidSet = -60001;
constexpr OSStatus errAuthorizationInvalidRef = -60002;
constexpr OSStatus errAuthorizationInvalidPointer = -60004;
constexpr OSStatus errAuthorizationDenied = -60005;
constexpr OSStatus errAuthorizationCanceled = -60006;
constexpr OSStatus errAuthorizationInteractionNotAllowed = -60007;
constexpr OSStatus errAuthorizationInternal = -60008;
constexpr OSStatus errAuthorizationInvalidFlags = -60011;
constexpr OSStatus errAuthorizationToolExecuteFailure = -60031;

// Creates a reference; with rights, obtains them at once as AuthorizationCopyRights does.
// A null authorization only reports whether the rights could be obtained.
OSStatus AuthorizationCreate(const AuthorizationRights* rights, const AuthorizationEnvironment* environment,
                             AuthorizationFlags flags, AuthorizationRef* authorization);

// Grants the administrator right when pkexec is there and the flags extend rights and allow
// the prompt (root needs no prompt). The prompt itself comes when the program is started.
// authorizedRights receives no copy of the rights: pass NULL.
OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights* rights,
                                 const AuthorizationEnvironment* environment, AuthorizationFlags flags,
                                 AuthorizationRights** authorizedRights);

// Starts pathToTool with the NULL-closed arguments through pkexec, with no shell in
// between. The call returns once the program has written its first output or ended, so
// that a refused or dismissed prompt (pkexec's status 127 or 126, with no output) comes
// back as errAuthorizationDenied or errAuthorizationCanceled. communicationsPipe receives
// the program's standard output (its standard input is empty); closing it waits for the
// program. Without a pipe the call waits until the program has ended.
OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char* pathToTool,
                                            AuthorizationFlags options, char* const* arguments,
                                            FILE** communicationsPipe);

OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags);

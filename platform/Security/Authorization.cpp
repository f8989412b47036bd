#include "Authorization.h"

#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

struct AuthorizationOpaqueRef
{
    bool adminRight = false;
};

namespace {

// pkexec's own statuses when it did not start the program.
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;

QByteArray pkexecPath()
{
    return QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("pkexec")));
}

int waitForExit(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return status;
}

// Blocks until fd has data or reached end of file; true at end of file without data.
bool endsWithoutOutput(int fd)
{
    pollfd entry{fd, POLLIN, 0};
    while (poll(&entry, 1, -1) < 0 && errno == EINTR) {}
    int available = 0;
    return ioctl(fd, FIONREAD, &available) == 0 && available == 0;
}

// The read end handed to the caller; closing it reaps the program, which the caller
// never waits for itself.
struct ProgramPipe
{
    int fd;
    pid_t pid; // 0 once reaped
};

ssize_t readProgramPipe(void* cookie, char* buffer, size_t size)
{
    const int fd = static_cast<ProgramPipe*>(cookie)->fd;
    ssize_t count;
    while ((count = read(fd, buffer, size)) < 0 && errno == EINTR) {}
    return count;
}

int closeProgramPipe(void* cookie)
{
    auto* pipe = static_cast<ProgramPipe*>(cookie);
    const int result = close(pipe->fd);
    if (pipe->pid > 0)
        waitForExit(pipe->pid);
    delete pipe;
    return result;
}

FILE* openProgramPipe(int fd, pid_t pid)
{
    const cookie_io_functions_t functions{readProgramPipe, nullptr, nullptr, closeProgramPipe};
    auto* cookie = new ProgramPipe{fd, pid};
    FILE* file = fopencookie(cookie, "r", functions);
    if (!file)
        delete cookie;
    return file;
}

} // namespace

OSStatus AuthorizationCreate(const AuthorizationRights* rights, const AuthorizationEnvironment* environment,
                             AuthorizationFlags flags, AuthorizationRef* authorization)
{
    auto* reference = new AuthorizationOpaqueRef;
    if (rights && rights->count > 0) {
        const OSStatus status = AuthorizationCopyRights(reference, rights, environment, flags, nullptr);
        if (status != errAuthorizationSuccess) {
            delete reference;
            return status;
        }
    }
    if (authorization)
        *authorization = reference;
    else
        delete reference;
    return errAuthorizationSuccess;
}

OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights* rights,
                                 const AuthorizationEnvironment*, AuthorizationFlags flags,
                                 AuthorizationRights** authorizedRights)
{
    if (authorizedRights)
        *authorizedRights = nullptr;
    if (!authorization)
        return errAuthorizationInvalidRef;
    if (!rights || (rights->count > 0 && !rights->items))
        return errAuthorizationInvalidSet;
    for (uint32_t i = 0; i < rights->count; ++i) {
        const char* name = rights->items[i].name;
        if (!name || std::strcmp(name, kAuthorizationRightExecute) != 0)
            return errAuthorizationDenied;
    }
    if (rights->count == 0 || authorization->adminRight)
        return errAuthorizationSuccess;
    if (!(flags & kAuthorizationFlagExtendRights))
        return errAuthorizationDenied;
    if (!(flags & kAuthorizationFlagInteractionAllowed) && getuid() != 0)
        return errAuthorizationInteractionNotAllowed;
    if (pkexecPath().isEmpty())
        return errAuthorizationDenied;
    authorization->adminRight = true;
    return errAuthorizationSuccess;
}

OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char* pathToTool,
                                            AuthorizationFlags options, char* const* arguments,
                                            FILE** communicationsPipe)
{
    if (!authorization)
        return errAuthorizationInvalidRef;
    if (!pathToTool)
        return errAuthorizationInvalidPointer;
    if (options != kAuthorizationFlagDefaults)
        return errAuthorizationInvalidFlags;
    if (!authorization->adminRight)
        return errAuthorizationDenied;
    QByteArray pkexec = pkexecPath();
    if (pkexec.isEmpty())
        return errAuthorizationToolExecuteFailure;

    std::vector<char*> argv{pkexec.data(), const_cast<char*>(pathToTool)};
    for (char* const* argument = arguments; argument && *argument; ++argument)
        argv.push_back(*argument);
    argv.push_back(nullptr);

    int fds[2] = {-1, -1};
    if (communicationsPipe && pipe2(fds, O_CLOEXEC) != 0)
        return errAuthorizationInternal;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (communicationsPipe)
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, pkexec.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (communicationsPipe)
        close(fds[1]);
    if (spawned != 0) {
        if (communicationsPipe)
            close(fds[0]);
        return errAuthorizationToolExecuteFailure;
    }

    // pkexec writes nothing on standard output: the first output is the program's. An end
    // without output may be pkexec's refusal, told by its status.
    if (!communicationsPipe || endsWithoutOutput(fds[0])) {
        const int status = waitForExit(pid);
        pid = 0;
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (code == kPkexecDismissed || code == kPkexecNotAuthorized) {
            if (communicationsPipe)
                close(fds[0]);
            return code == kPkexecDismissed ? errAuthorizationCanceled : errAuthorizationDenied;
        }
    }
    if (communicationsPipe) {
        *communicationsPipe = openProgramPipe(fds[0], pid);
        if (!*communicationsPipe) {
            close(fds[0]);
            if (pid > 0)
                waitForExit(pid);
            return errAuthorizationInternal;
        }
    }
    return errAuthorizationSuccess;
}

OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags)
{
    if (!authorization)
        return errAuthorizationInvalidRef;
    delete authorization;
    return errAuthorizationSuccess;
}

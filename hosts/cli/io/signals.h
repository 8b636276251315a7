// The program's signals and standard descriptors: settled at start, and the
// temporaries removed when a signal ends the program.
#pragma once

#include <string>

namespace q5cli {

/// Before anything else is opened: /dev/null on any of descriptors 0 to 2 that is
/// closed, so that no file opened later takes the place of standard error and
/// receives its messages; SIGPIPE and SIGXFSZ ignored, so that a closed pipe
/// downstream or a file-size limit is a write error with a message and the usual
/// cleanup instead of a silent death.
void prepareProcess();

/// Whether descriptor `fd` (0 to 2) was closed when prepareProcess ran: what stands
/// there now is /dev/null, which must not take the place of a real input or output.
bool closedAtStart(int fd);

/// Removes `path` if a signal whose default action ends the program (any but SIGKILL,
/// and SIGPIPE and SIGXFSZ, which are ignored) ends it before forgetTemp. A signal
/// ignored at start stays ignored (nohup).
void rememberTemp(const std::string &path);
void forgetTemp(const std::string &path);

/// Holds the terminating signals that other processes send back while it lives, for
/// work that must not stop half done (a file rewritten in place, a set of files
/// renamed into place); one that arrived meanwhile ends the program when the
/// outermost one goes. A fault of the program's own still ends it at once.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld &) = delete;
    SignalsHeld &operator=(const SignalsHeld &) = delete;
};

}  // namespace q5cli

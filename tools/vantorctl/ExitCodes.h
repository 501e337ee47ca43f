#pragma once

#include <stdexcept>
#include <string>

namespace vd::ctl {

// Scripts branch on these, so each kind of failure keeps its own number.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,
    kExitBadArguments = 2,
    kExitConnection = 3,
    kExitAuthentication = 4,
    kExitNoAnswer = 5,
    kExitInterrupted = 130,
};

// Ends the command: main prints the message as one line and leaves with the code. An empty
// message prints nothing (an interrupt needs no explanation).
class Failure : public std::runtime_error {
public:
    Failure(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
    ExitCode code() const { return code_; }

private:
    ExitCode code_;
};

} // namespace vd::ctl

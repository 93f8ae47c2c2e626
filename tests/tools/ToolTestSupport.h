// Helpers of the command-line tests: running the built eegfile program (path
// from CMake) with its output captured.
#pragma once

#include <cstdint>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tooltest {

struct Result {
    int code = -1;  // exit code, or 128 + signal
    std::string out, err;
    // stderr's lines (without their newlines).
    std::vector<std::string> ErrLines() const;
};

// A running eegfile process with its stdout and stderr on pipes.
class Process {
public:
    // env: extra "NAME=value" entries.
    Process(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Reads stdout until a whole line arrives (kept in the result too); "" at end.
    std::string ReadLine();
    void Signal(int sig) { ::kill(m_pid, sig); }
    // Reads both pipes to their end and waits for the exit.
    Result Wait();

private:
    void Pump(bool untilLine);
    pid_t m_pid = -1;
    int m_out = -1, m_err = -1;
    Result m_result;
    size_t m_lineStart = 0;
};

inline Result RunTool(const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {}) {
    Process p(args, env);
    return p.Wait();
}

// Sample `channel` of frame `frame` in dump's raw output of `channels` channels
// (16-bit little-endian).
inline int16_t RawSample(const std::string& raw, size_t frame, int channel, int channels) {
    const size_t at = (frame * static_cast<size_t>(channels) + static_cast<size_t>(channel)) * 2;
    return static_cast<int16_t>(static_cast<uint8_t>(raw[at]) | static_cast<uint8_t>(raw[at + 1])
                                                                    << 8);
}

}  // namespace tooltest

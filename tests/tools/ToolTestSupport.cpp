#include "ToolTestSupport.h"

namespace tooltest {

std::vector<std::string> Result::ErrLines() const {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < err.size()) {
        size_t end = err.find('\n', start);
        if (end == std::string::npos)
            end = err.size();
        lines.push_back(err.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

Process::Process(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    m_pid = ::fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        for (const std::string& e : env)
            ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv;
        static std::string tool = EEGFILE_TOOL;
        argv.push_back(tool.data());
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(tool.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    m_out = out[0];
    m_err = err[0];
}

Process::~Process() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        Wait();
    }
}

void Process::Pump(bool untilLine) {
    while (m_out >= 0 || m_err >= 0) {
        if (untilLine && m_result.out.find('\n', m_lineStart) != std::string::npos)
            return;
        pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("poll failed");
        }
        for (int k = 0; k < 2; ++k) {
            int& fd = k == 0 ? m_out : m_err;
            if (fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[65536];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ::close(fd);
                fd = -1;
                continue;
            }
            (k == 0 ? m_result.out : m_result.err).append(buf, static_cast<size_t>(n));
        }
    }
}

std::string Process::ReadLine() {
    Pump(true);
    const size_t end = m_result.out.find('\n', m_lineStart);
    if (end == std::string::npos)
        return "";
    std::string line = m_result.out.substr(m_lineStart, end - m_lineStart);
    m_lineStart = end + 1;
    return line;
}

Result Process::Wait() {
    Pump(false);
    if (m_pid > 0) {
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        m_pid = -1;
    }
    return m_result;
}

}  // namespace tooltest

#include "ToolTestSupport.h"

#include <cstring>

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

const Json& Json::operator[](const std::string& key) const {
    const auto it = members.find(key);
    if (kind != Object || it == members.end())
        throw std::runtime_error("JSON: no member '" + key + "'");
    return it->second;
}

namespace {

class Parser {
public:
    explicit Parser(const std::string& t) : m_t(t) {}

    Json Document() {
        Json v = Value();
        Space();
        if (m_i != m_t.size())
            Fail("text after the value");
        return v;
    }

private:
    [[noreturn]] void Fail(const char* what) {
        throw std::runtime_error("JSON: " + std::string(what) + " at offset " +
                                 std::to_string(m_i));
    }
    void Space() {
        while (m_i < m_t.size() && std::strchr(" \t\r\n", m_t[m_i]) && m_t[m_i])
            ++m_i;
    }
    bool Take(char c) {
        Space();
        if (m_i < m_t.size() && m_t[m_i] == c) {
            ++m_i;
            return true;
        }
        return false;
    }
    void Expect(const char* word) {
        const size_t n = std::strlen(word);
        if (m_t.compare(m_i, n, word) != 0)
            Fail("bad literal");
        m_i += n;
    }
    Json Value() {
        Space();
        if (m_i >= m_t.size())
            Fail("missing value");
        Json v;
        const char c = m_t[m_i];
        if (c == '{') {
            ++m_i;
            v.kind = Json::Object;
            if (Take('}'))
                return v;
            do {
                Space();
                if (m_i >= m_t.size() || m_t[m_i] != '"')
                    Fail("expected a key");
                std::string key = Str();
                if (!Take(':'))
                    Fail("expected ':'");
                if (v.members.count(key))
                    Fail("duplicate key");
                v.members[key] = Value();
            } while (Take(','));
            if (!Take('}'))
                Fail("expected '}'");
        } else if (c == '[') {
            ++m_i;
            v.kind = Json::Array;
            if (Take(']'))
                return v;
            do
                v.items.push_back(Value());
            while (Take(','));
            if (!Take(']'))
                Fail("expected ']'");
        } else if (c == '"') {
            v.kind = Json::String;
            v.s = Str();
        } else if (c == 't' || c == 'f') {
            v.kind = Json::Bool;
            v.b = c == 't';
            Expect(v.b ? "true" : "false");
        } else if (c == 'n') {
            Expect("null");
        } else {
            v.kind = Json::Number;
            v.n = Num();
        }
        return v;
    }
    double Num() {
        const size_t start = m_i;
        const auto digits = [&] {
            const size_t s = m_i;
            while (m_i < m_t.size() && m_t[m_i] >= '0' && m_t[m_i] <= '9')
                ++m_i;
            return m_i - s;
        };
        if (m_i < m_t.size() && m_t[m_i] == '-')
            ++m_i;
        if (m_i < m_t.size() && m_t[m_i] == '0')
            ++m_i;
        else if (!digits())
            Fail("bad number");
        if (m_i < m_t.size() && m_t[m_i] == '.') {
            ++m_i;
            if (!digits())
                Fail("bad fraction");
        }
        if (m_i < m_t.size() && (m_t[m_i] == 'e' || m_t[m_i] == 'E')) {
            ++m_i;
            if (m_i < m_t.size() && (m_t[m_i] == '+' || m_t[m_i] == '-'))
                ++m_i;
            if (!digits())
                Fail("bad exponent");
        }
        return std::strtod(m_t.substr(start, m_i - start).c_str(), nullptr);
    }
    // A string literal, decoded to UTF-8; raw control characters and bytes that
    // are not UTF-8 are faults.
    std::string Str() {
        ++m_i;  // the opening quote
        std::string out;
        while (true) {
            if (m_i >= m_t.size())
                Fail("unterminated string");
            const unsigned char c = static_cast<unsigned char>(m_t[m_i++]);
            if (c == '"')
                return out;
            if (c < 0x20)
                Fail("raw control character in a string");
            if (c >= 0x80) {
                const int n = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : -1;
                if (n < 0 || c > 0xF4)
                    Fail("byte that is not UTF-8");
                out += static_cast<char>(c);
                for (int k = 0; k < n; ++k) {
                    if (m_i >= m_t.size() || (static_cast<unsigned char>(m_t[m_i]) & 0xC0) != 0x80)
                        Fail("cut UTF-8 sequence");
                    out += m_t[m_i++];
                }
                continue;
            }
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (m_i >= m_t.size())
                Fail("unterminated escape");
            const char e = m_t[m_i++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    if (m_i + 4 > m_t.size())
                        Fail("short \\u escape");
                    unsigned cp = 0;
                    for (int k = 0; k < 4; ++k) {
                        const char h = m_t[m_i++];
                        cp <<= 4;
                        if (h >= '0' && h <= '9')
                            cp |= static_cast<unsigned>(h - '0');
                        else if (h >= 'a' && h <= 'f')
                            cp |= static_cast<unsigned>(h - 'a' + 10);
                        else if (h >= 'A' && h <= 'F')
                            cp |= static_cast<unsigned>(h - 'A' + 10);
                        else
                            Fail("bad \\u escape");
                    }
                    if (cp >= 0xD800 && cp <= 0xDFFF)
                        Fail("surrogate escapes are not used here");
                    if (cp < 0x80) {
                        out += static_cast<char>(cp);
                    } else if (cp < 0x800) {
                        out += static_cast<char>(0xC0 | (cp >> 6));
                        out += static_cast<char>(0x80 | (cp & 0x3F));
                    } else {
                        out += static_cast<char>(0xE0 | (cp >> 12));
                        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                        out += static_cast<char>(0x80 | (cp & 0x3F));
                    }
                    break;
                }
                default:
                    Fail("bad escape");
            }
        }
    }

    const std::string& m_t;
    size_t m_i = 0;
};

}  // namespace

Json ParseJson(const std::string& text) {
    return Parser(text).Document();
}

}  // namespace tooltest

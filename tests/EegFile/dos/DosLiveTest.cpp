// A station records a legacy recording (log lines and data seconds) while another
// follows it with updateFromLog and readData.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "DosTestSupport.h"

using namespace dostest;

namespace {

// The recording writer, with its packing reachable so the test can append a
// second in two halves, as a station does whose write is under way.
class HalfSecondWriter : public CDosRecordingWriter {
public:
    using CDosRecordingWriter::CDosRecordingWriter;

    void Append(const short* frames, bool firstHalfOnly) {
        char stored[kRawSecondBytes];
        const int bytes = PackSecond(frames, stored);
        const int half = firstHalfOnly ? bytes / 2 : bytes;
        AppendBytes(stored, half);
    }
    void AppendRest(const short* frames) {
        char stored[kRawSecondBytes];
        const int bytes = PackSecond(frames, stored);
        AppendBytes(stored + bytes / 2, bytes - bytes / 2);
    }
    void NewFile() {
        ASSERT_TRUE(StartDataFile());
        CLogFile::FileType file;
        file.fileNumber = Log().getLastDataFileNumber();
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = ::open(Log().GetFilePath(file), O_WRONLY | O_APPEND | O_CLOEXEC);
        ASSERT_GE(m_fd, 0);
    }
    ~HalfSecondWriter() override {
        if (m_fd >= 0)
            ::close(m_fd);
    }

private:
    void AppendBytes(const char* p, int n) {
        ASSERT_EQ(::write(m_fd, p, static_cast<size_t>(n)), n);
    }
    int m_fd = -1;
};

constexpr int kRate = 200;
constexpr int kStepped = 12;  // seconds written in halves, in step with the follower
constexpr int kFree = 150;    // then written as fast as the station can

}  // namespace

TEST(DosLive, FollowerSeesEverySecondAndEvent) {
    TempDir dir;
    const std::string path = dir.File("EEG00009.LOG");
    std::vector<AmpInputType> inputs;
    for (int k = 0; k < 32; ++k)
        inputs.push_back(static_cast<AmpInputType>(k));
    const std::vector<short> frames = SmoothSeconds(kRate, kStepped + kFree, 3);
    const auto second = [&](int s) { return frames.data() + static_cast<size_t>(32) * kRate * s; };
    const auto event = [](int s) {
        return new CCommentEvent(CEegTimeStamp(s * kRate), ("event " + std::to_string(s)).c_str(),
                                 3);
    };
    Pipe toFollower, toRecorder;

    const pid_t recorder = Spawn([&] {
        KeepEnds({&toFollower}, {&toRecorder});
        HalfSecondWriter w(path.c_str(), kRate, 2, AmpStoring(inputs), MontageOf(inputs));
        toFollower.Send('r');
        for (int s = 0; s < kStepped; ++s) {
            if (s % 5 == 0)
                w.NewFile();
            w.Append(second(s), true);
            toFollower.Send('h');
            if (toRecorder.Get() != 'g')
                return 1;
            w.AppendRest(second(s));
            w.Log().AddEvent(event(s));
            toFollower.Send('s');
            if (toRecorder.Get() != 'g')
                return 1;
        }
        for (int s = kStepped; s < kStepped + kFree; ++s) {
            if (s % 50 == 0)
                w.NewFile();
            w.Append(second(s), false);
            if (s % 10 == 0)
                w.Log().AddEvent(event(s));
        }
        toFollower.Send('e');
        return 0;
    });
    KeepEnds({&toRecorder}, {&toFollower});
    ASSERT_EQ(toFollower.Get(), 'r');

    CDosLogFile log(path.c_str(), 0);
    CDosEegData data(log);
    std::vector<short> got(32 * kRate);
    const auto exact = [&](int s) { return std::equal(got.begin(), got.end(), second(s)); };
    int events = 0;
    const auto newEvents = [&] {
        int n = 0;
        for (int i = 0; i < log.GetEventList().GetSize(); ++i) {
            const CEegEvent* e = log.GetEventList().GetAt(i);
            n += e->GetEventType() == CEegEvent::etComment &&
                 Describe(*e) == Describe(*std::unique_ptr<CEegEvent>(
                                     event(e->GetTimeStamp().GetSampleOffset() / kRate)));
        }
        const int added = n - events;
        events = n;
        return added;
    };
    for (int s = 0; s < kStepped; ++s) {
        ASSERT_EQ(toFollower.Get(), 'h');
        log.updateFromLog();
        EXPECT_EQ(data.readData(s, got.data()), 0) << "second " << s << " is half written";
        toRecorder.Send('g');
        ASSERT_EQ(toFollower.Get(), 's');
        log.updateFromLog();
        ASSERT_EQ(data.readData(s, got.data()), kRate) << s;
        EXPECT_TRUE(exact(s)) << s;
        EXPECT_EQ(newEvents(), 1) << s;
        toRecorder.Send('g');
    }
    // Then it follows a station that does not wait for it.
    int next = kStepped;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (next < kStepped + kFree && std::chrono::steady_clock::now() < deadline) {
        log.updateFromLog();
        while (next < kStepped + kFree && data.readData(next, got.data()) == kRate) {
            EXPECT_TRUE(exact(next)) << next;
            ++next;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a follower's polling pace
    }
    EXPECT_EQ(next, kStepped + kFree);
    EXPECT_EQ(toFollower.Get(), 'e');
    EXPECT_EQ(Reap(recorder), 0);
    log.updateFromLog();
    EXPECT_EQ(newEvents(), kFree / 10);
    EXPECT_EQ(log.getRecordLength(), kStepped + kFree);
}

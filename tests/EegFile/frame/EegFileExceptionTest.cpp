#include "EegFile/frame/EegFileException.h"

#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"

namespace {
CString Message(CEegFileException& e, UINT size = 1024) {
    std::vector<char> buf(size, 'Z');
    UINT help = 77;
    EXPECT_EQ(e.GetErrorMessage(buf.data(), size, &help), TRUE);
    EXPECT_EQ(help, 0u);
    return CString(buf.data());
}
}  // namespace

TEST(EegFileException, MessagesCarryTheLabelAndTheCodeTextCutToTheBuffer) {
    const std::pair<int, const char*> cases[] = {{0, "Unknown event list format."},
                                                 {9, "Invalid file signature."},
                                                 {13, "Failed To Allocate EEG Data Storage."},
                                                 {-1, "Unknown error type."},
                                                 {14, "Unknown error type."},
                                                 {1000, "Unknown error type."}};
    for (const auto& [code, text] : cases) {
        CEegFileException e(code, nullptr);
        EXPECT_EQ(Message(e), CString("Tarnvik EEG File Error: ") + text) << code;
    }
    CEegFileException e(5, nullptr);
    EXPECT_EQ(Message(e, 11), "Tarnvik EE");  // 10 characters and the terminator
    char one[1] = {'x'};
    e.GetErrorMessage(one, 1, nullptr);
    EXPECT_EQ(one[0], '\0');
    // Thrown on the heap, caught as the framework's exception.
    testsupport::ExpectThrows<CEegFileException>([] { ThrowEegFileException(11); },
                                                 [](CEegFileException& x) {
                                                     EXPECT_EQ(x.GetErrorCode(), 11);
                                                     EXPECT_EQ(x.GetErrorText(),
                                                               "Tarnvik EEG File Error: EEG write "
                                                               "buffer overflow.");
                                                 });
}

TEST(EegFileException, StationParagraphOnlyWhenStationsHoldTheFile) {
    CEegStationList none;
    CEegFileException empty(7, &none);
    EXPECT_EQ(Message(empty), "Tarnvik EEG File Error: Exclusive access mode is required.");

    CEegStationList stations;
    stations.Add({"REVIEW-1", 1, CEegAccessMode::eamRead});
    stations.Add({"ACQ", 2, CEegAccessMode::eamWrite});
    CEegFileException held(7, &stations);
    // The names are copied: the list may go away before the message is asked for.
    stations.RemoveAll();
    EXPECT_EQ(Message(held),
              "Tarnvik EEG File Error: Exclusive access mode is required."
              "\n\nThe following station(s) are accessing this file:\n\tREVIEW-1\n\tACQ");
}

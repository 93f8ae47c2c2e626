#include "EegFile/frame/EegFileException.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
CString Message(CEegFileException& e, UINT size = 1024) {
    std::vector<char> buf(size, 'Z');
    UINT help = 77;
    EXPECT_EQ(e.GetErrorMessage(buf.data(), size, &help), TRUE);
    EXPECT_EQ(help, 0u);
    return CString(buf.data());
}
}  // namespace

TEST(EegFileException, MessagesCarryTheLabelAndTheCodeText) {
    CEegFileException bad(9, nullptr);
    EXPECT_EQ(Message(bad), "Tarnvik EEG File Error: Invalid file signature.");
    CEegFileException last(13, nullptr);
    EXPECT_EQ(Message(last), "Tarnvik EEG File Error: Failed To Allocate EEG Data Storage.");
    CEegFileException first(0, nullptr);
    EXPECT_EQ(Message(first), "Tarnvik EEG File Error: Unknown event list format.");
    for (int code : {-1, 14, 1000}) {
        CEegFileException unknown(code, nullptr);
        EXPECT_EQ(Message(unknown), "Tarnvik EEG File Error: Unknown error type.");
    }
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

TEST(EegFileException, MessageIsCutToTheBuffer) {
    CEegFileException e(5, nullptr);
    EXPECT_EQ(Message(e, 11), "Tarnvik EE");  // 10 characters and the terminator
    char one[1] = {'x'};
    e.GetErrorMessage(one, 1, nullptr);
    EXPECT_EQ(one[0], '\0');
}

TEST(EegFileException, ThrownByPointerAndCaughtAsFrameworkException) {
    try {
        ThrowEegFileException(11);
        FAIL();
    } catch (CException* e) {
        auto* typed = dynamic_cast<CEegFileException*>(e);
        ASSERT_NE(typed, nullptr);
        EXPECT_EQ(typed->GetErrorCode(), 11);
        EXPECT_EQ(e->GetErrorText(), "Tarnvik EEG File Error: EEG write buffer overflow.");
        e->Delete();
    }
}

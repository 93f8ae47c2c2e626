#include "Platform/String.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "Platform/Exception.h"
#include "Platform/StringTable.h"

TEST(String, SlicingSearchingAndTrimming) {
    const CString s("PAT001.LOG");
    EXPECT_EQ(s.Left(3), "PAT");
    EXPECT_EQ(s.Mid(7), "LOG");
    EXPECT_EQ(s.Mid(3, 3), "001");
    EXPECT_EQ(s.Right(4), ".LOG");
    // Out-of-range arguments clamp instead of throwing.
    EXPECT_EQ(s.Left(-1), "");
    EXPECT_EQ(s.Mid(50), "");
    EXPECT_EQ(s.Mid(8, 100), "OG");
    EXPECT_EQ(s.Right(100), s);
    EXPECT_EQ(s.Find('0'), 3);
    EXPECT_EQ(s.Find('0', 5), -1);
    EXPECT_EQ(s.Find("LOG"), 7);
    EXPECT_EQ(s.ReverseFind('.'), 6);
    EXPECT_EQ(s.Find('Z'), -1);
    EXPECT_EQ(s.Find('P', 11), -1);

    CString t("  \tvalue \r\n");
    EXPECT_EQ(CString(t).TrimLeft(), "value \r\n");
    EXPECT_EQ(CString(t).TrimRight(), "  \tvalue");
    EXPECT_EQ(t.Trim(), "value");
    EXPECT_EQ(CString("xxabxx").TrimLeft('x'), "abxx");
    EXPECT_EQ(CString("   ").Trim(), "");

    CString r("a,b,,c");
    EXPECT_EQ(r.Replace(",", ";;"), 3);
    EXPECT_EQ(r, "a;;b;;;;c");
    EXPECT_EQ(r.Remove(';'), 6);
    EXPECT_EQ(r, "abc");
    EXPECT_EQ(CString("aaa").Replace("a", "aa"), 3);  // replaced text is not searched again
    EXPECT_EQ(CString("MiXeD").MakeUpper(), "MIXED");
    EXPECT_EQ(CString("Montage").CompareNoCase("MONTAGE"), 0);
    EXPECT_LT(CString("abc").Compare("abd"), 0);
}

TEST(String, FormatAndBuffers) {
    CString s;
    s.Format("%02d:%s", 7, "x");
    EXPECT_EQ(s, "07:x");
    // Longer than the small first attempt.
    s.Format("%s", std::string(1000, 'q').c_str());
    EXPECT_EQ(s.GetLength(), 1000);
    s.FormatDynamic("%.2f", 3.14159);
    EXPECT_EQ(s, "3.14");

    CString b;
    char* p = b.GetBuffer(16);
    std::snprintf(p, 16, "abc");
    b.ReleaseBuffer();
    EXPECT_EQ(b.GetLength(), 3);
    EXPECT_EQ(b, "abc");
    EXPECT_EQ(CString('-', 3) + "x" + CString("y"), "---xy");
    EXPECT_TRUE(CString("a") < CString("b"));
}

TEST(StringTable, BuiltInTextsAndHostOverrides) {
    AfxResetStringTable();
    CString s;
    EXPECT_TRUE(s.LoadString(83));
    EXPECT_FALSE(s.IsEmpty());
    for (UINT id = 83; id <= 116; ++id)
        EXPECT_NE(AfxLoadString(id), nullptr) << id;
    for (UINT id : {581u, 582u, 1020u})
        EXPECT_NE(AfxLoadString(id), nullptr) << id;
    // The format strings take the arguments their users pass.
    CString f;
    f.FormatDynamic(AfxLoadString(90), 3);
    EXPECT_NE(f.Find('3'), -1);
    f.FormatDynamic(AfxLoadString(1020), 11.5);
    EXPECT_NE(f.Find("11.50"), -1);
    // A missing number loads as "".
    EXPECT_FALSE(s.LoadString(4242));
    EXPECT_EQ(s, "");

    AfxSetString(83, "Blok");
    AfxSetString(4242, "Host text");
    EXPECT_STREQ(AfxLoadString(83), "Blok");
    EXPECT_STREQ(AfxLoadString(4242), "Host text");
    AfxSetString(83, nullptr);  // back to the built-in text
    EXPECT_STRNE(AfxLoadString(83), "Blok");
    AfxResetStringTable();
    EXPECT_EQ(AfxLoadString(4242), nullptr);
}

TEST(Exception, FrameworkMessagesNameTheFileAndCause) {
    CFileException notFound(CFileException::fileNotFound, ENOENT, "/x/a.eeg");
    EXPECT_EQ(notFound.GetErrorText(), "/x/a.eeg was not found. (No such file or directory)");
    CFileException full(CFileException::diskFull, ENOSPC, "/x/a.eeg");
    EXPECT_EQ(full.GetErrorText().str().rfind("Disk full while accessing /x/a.eeg.", 0), 0u);
    CFileException sharing(CFileException::sharingViolation, -1, "/x/a.$co");
    EXPECT_EQ(sharing.GetErrorText(), "A sharing violation occurred while accessing /x/a.$co.");
    CArchiveException schema(CArchiveException::badSchema, "/x/a.eeg");
    EXPECT_EQ(schema.GetErrorText(), "/x/a.eeg contains an incorrect schema.");
    EXPECT_EQ(CFileException::OsErrorToException(ENOSPC), CFileException::diskFull);
    EXPECT_EQ(CFileException::OsErrorToException(EIO), CFileException::hardIO);
    EXPECT_EQ(CFileException::OsErrorToException(EACCES), CFileException::accessDenied);

    char small[8];
    UINT help = 5;
    schema.GetErrorMessage(small, sizeof small, &help);
    EXPECT_STREQ(small, "/x/a.ee");
    EXPECT_EQ(help, 0u);
}

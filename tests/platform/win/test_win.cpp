#include <gtest/gtest.h>

#include "NxWin.h"

namespace {

TEST(UiLibraryName, IsCompletedTheWayTheSettingsExpect) {
    EXPECT_EQ(NxCompleteUiLibraryName(""), "Tarnuid.dll");
    EXPECT_EQ(NxCompleteUiLibraryName("abc"), "abcd.dll");
    EXPECT_EQ(NxCompleteUiLibraryName("abc.dll"), "abc.dll");
    EXPECT_EQ(NxCompleteUiLibraryName("Quorlaui"), "Quorlauid.dll");
    EXPECT_EQ(NxCompleteUiLibraryName("a.dll.old"), "a.dll.old");  // contains ".dll"
}

TEST(UiLibraryName, MapsToTheSharedObjectName) {
    EXPECT_EQ(NxSharedObjectName("Quorlaui.dll"), "libQuorlaui.so");
    EXPECT_EQ(NxSharedObjectName("/opt/ui/Tarnuid.dll"), "/opt/ui/libTarnuid.so");
    EXPECT_EQ(NxSharedObjectName("plain"), "libplain.so");
}

TEST(Loader, FindsALibraryBesideThisModuleAndItsExports) {
    HMODULE module = LoadLibraryA("NxWinProbe.dll");
    ASSERT_NE(module, nullptr) << NxLastErrorText();
    auto answer = reinterpret_cast<int (*)()>(GetProcAddress(module, "NxWinProbeAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), NX_ERROR_PROC_NOT_FOUND);
    EXPECT_NE(NxLastErrorText().find("NoSuchExport"), std::string::npos);
    EXPECT_EQ(FreeLibrary(module), 1);
}

TEST(Loader, ReportsWhatCannotBeLoaded) {
    EXPECT_EQ(LoadLibraryA("NoSuchLibraryd.dll"), nullptr);
    EXPECT_EQ(GetLastError(), NX_ERROR_MOD_NOT_FOUND);
    EXPECT_NE(NxLastErrorText().find("libNoSuchLibraryd.so"), std::string::npos);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "x"), nullptr);
    EXPECT_EQ(FreeLibrary(nullptr), 0);
    EXPECT_FALSE(NxThisModuleDirectory().empty());
}

}  // namespace

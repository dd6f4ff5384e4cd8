#include "core/version/ModuleVersion.h"

#include <gtest/gtest.h>

namespace {

VersionResource Resource(std::uint32_t ms, std::uint32_t ls) {
    VersionResource resource;
    resource.fixed.dwSignature = VS_FFI_SIGNATURE;
    resource.fixed.dwFileVersionMS = ms;
    resource.fixed.dwFileVersionLS = ls;
    return resource;
}

TEST(CModuleVersion, ReadsTheProgramsOwnData) {
    CModuleVersion version;
    ASSERT_TRUE(version.LoadVersion(nullptr));
    EXPECT_EQ(version.dwSignature, VS_FFI_SIGNATURE);
    EXPECT_EQ(version.QueryString("LegalCopyright").rfind("Copyright", 0), 0u);
    EXPECT_EQ(version.QueryString("ProductName"), "Velmo");
    EXPECT_EQ(version.QueryString("NoSuchEntry"), "");
}

TEST(CModuleVersion, SplitsTheFourFileVersionNumbers) {
    VersionResource resource = Resource(0x00010002, 0x000F0001);
    CModuleVersion::RegisterModule("test-module", &resource);
    CModuleVersion version;
    ASSERT_TRUE(version.LoadVersion("test-module"));
    EXPECT_EQ(version.Major(), 1);
    EXPECT_EQ(version.Minor(), 2);
    EXPECT_EQ(version.Build(), 15);
    EXPECT_EQ(version.Revision(), 1);
    EXPECT_FALSE(version.IsPrerelease());
    CModuleVersion::RegisterModule("test-module", nullptr);
}

TEST(CModuleVersion, WithoutTranslationQueriesCodePage1252) {
    VersionResource resource = Resource(0x00010000, 0);
    resource.strings["\\StringFileInfo\\000004e4\\LegalCopyright"] = "Notice";
    CModuleVersion::RegisterModule("no-translation", &resource);
    CModuleVersion version;
    ASSERT_TRUE(version.LoadVersion("no-translation"));
    EXPECT_EQ(version.QueryString("LegalCopyright"), "Notice");
    CModuleVersion::RegisterModule("no-translation", nullptr);
}

TEST(CModuleVersion, MissingOrDamagedDataGivesNothing) {
    CModuleVersion missing;
    EXPECT_FALSE(missing.LoadVersion("no-such-module"));
    EXPECT_EQ(missing.dwFileVersionMS, 0u);
    EXPECT_EQ(missing.QueryString("LegalCopyright"), "");

    VersionResource damaged = Resource(0x00010000, 0);
    damaged.fixed.dwSignature = 0;
    damaged.translation = 0x04E40409u;
    damaged.strings["\\StringFileInfo\\040904e4\\LegalCopyright"] = "Still here";
    CModuleVersion::RegisterModule("damaged", &damaged);
    CModuleVersion version;
    EXPECT_FALSE(version.LoadVersion("damaged"));
    EXPECT_EQ(version.QueryString("LegalCopyright"), "Still here");
    CModuleVersion::RegisterModule("damaged", nullptr);
}

}  // namespace

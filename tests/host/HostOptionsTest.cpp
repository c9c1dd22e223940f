#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "HostOptions.h"
#include "PluginHost.h"

TEST(HostOptions, GeometryForms) {
    bool ok = false;
    EXPECT_EQ(parseGeometry("1600x800+10+20", &ok), QRect(10, 20, 1600, 800));
    EXPECT_TRUE(ok);
    EXPECT_EQ(parseGeometry("1600x800", &ok), QRect(0, 0, 1600, 800));
    EXPECT_TRUE(ok);
    parseGeometry("wide", &ok);
    EXPECT_FALSE(ok);
}

TEST(HostOptions, CommandLine) {
    HostOptions o = parseHostOptions({"hmihost", "--nxroot", "/r", "--script", "s.txt",
                                      "--screenshot", "a.png", "--settle", "10"});
    EXPECT_TRUE(o.error.isEmpty());
    EXPECT_EQ(o.nxroot, "/r");
    EXPECT_EQ(o.script, "s.txt");
    EXPECT_EQ(o.screenshot, "a.png");
    EXPECT_EQ(o.settleMs, 10);
    EXPECT_FALSE(parseHostOptions({"hmihost", "--bogus"}).error.isEmpty());
    EXPECT_FALSE(parseHostOptions({"hmihost", "--geometry", "x"}).error.isEmpty());
}

// Each way a plug-in can fail to load is told apart.
TEST(PluginHost, LoadFailuresHaveTheirOwnOutcome) {
    QTemporaryDir dir;
    PluginHost host;
    EXPECT_EQ(host.load(dir.path() + "/absent.so"), PluginHost::Outcome::MissingFile);

    const QString text = dir.path() + "/text.so";
    FILE* f = std::fopen(text.toLocal8Bit().constData(), "w");
    std::fputs("not a library", f);
    std::fclose(f);
    EXPECT_EQ(PluginHost().load(text), PluginHost::Outcome::NotALibrary);

    // A real library without the entry point.
    EXPECT_EQ(PluginHost().load("/lib/x86_64-linux-gnu/libz.so.1"),
              PluginHost::Outcome::MissingEntry);
    EXPECT_EQ(PluginHost().openView(nullptr, 0, 0, 1, 1), PluginHost::Outcome::CreateFailed);
}

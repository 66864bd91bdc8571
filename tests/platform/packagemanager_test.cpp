#include "platform/files.h"
#include "platform/packagemanager.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarnwick;

TEST(PackageManager, NamedByTheMarkerBesideTheProgram)
{
    struct Case {
        const char* name;
        const char* marker; // nullptr: none
        std::optional<std::string> manager;
    };
    const Case cases[] = {
        {"no marker", nullptr, std::nullopt},
        {"first line", "apt\nmore\n", "apt"},
        {"empty", "", ""},
        {"not plain text", "apt\x1b[31m\n", ""},
        {"too long for a name", "a name of far more than forty characters, which is no name\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        std::filesystem::create_directories(dir.file("usr/bin"));
        const std::filesystem::path marker =
            (std::filesystem::path(dir.file("usr/bin")) / platform::packageMarkerPath()).lexically_normal();
        if (c.marker) {
            std::filesystem::create_directories(marker.parent_path());
            (void)platform::writeFileAtomic(marker.string(), c.marker);
        }
        EXPECT_EQ(platform::packageManager(dir.file("usr/bin/tarnwick")), c.manager);
    }
    EXPECT_EQ(platform::packageManager("tarnwick"), std::nullopt);
}

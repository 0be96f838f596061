#include "app/plant_lock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/file_text.h"
#include "support/without_privileges.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

using testing::withoutPrivileges;

class PlantLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(plant_);
        fs::create_directories(plant_);
    }
    void TearDown() override {
        fs::permissions(plant_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(plant_);
    }
    fs::path lockFile() const { return plant_ / "Orvanta.lock"; }

    fs::path plant_ = fs::temp_directory_path() / ("orvanta-plant-lock-" + std::to_string(getpid()));
};

TEST_F(PlantLockTest, TheHolderWritesItsPidAndASecondTakerIsToldItUntilTheHolderLetsGo) {
    std::ofstream(lockFile()) << "99999999999 left by a run long gone, its text longer than a pid";
    {
        const PlantLock first = PlantLock::take(plant_.string());
        EXPECT_EQ(first.state(), PlantLock::State::Held);
        EXPECT_EQ(first.path(), lockFile().string());
        EXPECT_EQ(testing::fileText(lockFile()), std::to_string(getpid()) + "\n");

        const PlantLock second = PlantLock::take(plant_.string());
        EXPECT_EQ(second.state(), PlantLock::State::HeldElsewhere);
        EXPECT_EQ(second.holder(), getpid());
        EXPECT_EQ(testing::fileText(lockFile()), std::to_string(getpid()) + "\n")
            << "the second writes nothing";
    }
    const PlantLock again = PlantLock::take(plant_.string());
    EXPECT_EQ(again.state(), PlantLock::State::Held);
}

TEST_F(PlantLockTest, ALinkInPlaceOfTheLockFileIsNeverWrittenThrough) {
    const fs::path target = plant_ / "precious";
    std::ofstream(target) << "keep";
    fs::create_symlink(target, lockFile());
    const PlantLock lock = PlantLock::take(plant_.string());
    EXPECT_EQ(lock.state(), PlantLock::State::Unavailable);
    EXPECT_FALSE(lock.problem().empty());
    EXPECT_EQ(testing::fileText(target), "keep");
}

// A folder that became read-only after a run made the lock file still has it; one that never had it
// cannot make it.
TEST_F(PlantLockTest, InAReadOnlyFolderAnExistingLockFileStillServesAndAMissingOneIsUnavailable) {
    std::ofstream(lockFile()) << "12345\n";
    fs::permissions(lockFile(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(plant_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const int result = withoutPrivileges([&] {
        const PlantLock first = PlantLock::take(plant_.string());
        const PlantLock second = PlantLock::take(plant_.string());
        const PlantLock elsewhere = PlantLock::take((plant_ / "missing").string());
        const bool firstHeld = first.state() == PlantLock::State::Held;
        const bool secondTold = second.state() == PlantLock::State::HeldElsewhere && second.holder() == 12345;
        const bool missingSaid = elsewhere.state() == PlantLock::State::Unavailable &&
                                 elsewhere.problem() == "No such file or directory";
        return (firstHeld ? 1 : 0) + (secondTold ? 2 : 0) + (missingSaid ? 4 : 0);
    });
    if (result < 0) GTEST_SKIP() << "cannot drop privileges here";
    EXPECT_EQ(result, 7);
    EXPECT_EQ(testing::fileText(lockFile()), "12345\n");

    fs::remove(lockFile());
    const int made = withoutPrivileges([&] {
        const PlantLock lock = PlantLock::take(plant_.string());
        return lock.state() == PlantLock::State::Unavailable && lock.problem() == "Permission denied" ? 1 : 0;
    });
    EXPECT_EQ(made, 1);
}

}  // namespace
}  // namespace orvanta

namespace orvanta {
namespace {

// The installed software's folders are refused, under whatever path leads there; a plant beside them,
// or a copy of the demo, is not.
TEST_F(PlantLockTest, TheInstalledSoftwaresFoldersAreRefusedAsPlantFolders) {
    const fs::path prefix = plant_ / "prefix";
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "share/orvanta/demo-plant/Program");
    fs::create_directories(prefix / "share/orvanta/demo-plant-copy");
    fs::create_symlink("/usr/share", plant_ / "into-usr");
    fs::create_symlink(prefix / "share/orvanta/demo-plant", plant_ / "demo-link");
    const std::string bin = (prefix / "bin").string();

    struct Case {
        std::string plant;
        std::string executable;
        const char* refusedAs;  // nullptr: allowed
    };
    const Case cases[] = {
        {"/usr", bin, "below /usr"},
        {"/usr/share/orvanta/demo-plant", "/usr/bin", "the installed demo plant"},
        {"/usr/local/share/no-such-plant", bin, "below /usr"},
        {"/usr/../srv/line1", bin, nullptr},
        {"/usrdata/line1", bin, nullptr},
        {(plant_ / "into-usr/plant").string(), bin, "below /usr"},
        {(prefix / "share/orvanta/demo-plant").string(), bin, "the installed demo plant"},
        {(prefix / "bin/../share/orvanta/demo-plant/").string(), bin, "the installed demo plant"},
        {(plant_ / "demo-link").string(), bin, "the installed demo plant"},
        {(prefix / "share/orvanta/demo-plant/Program").string(), bin, "the installed demo plant"},
        {(prefix / "share/orvanta/demo-plant-copy").string(), bin, nullptr},
        {(prefix / "share/orvanta/demo-plant").string(), "", nullptr},  // no program folder known
        {plant_.string(), bin, nullptr},
    };
    for (const Case& c : cases) {
        const std::string refused = refusedPlantFolder(c.plant, c.executable);
        if (c.refusedAs == nullptr) {
            EXPECT_EQ(refused, "") << c.plant;
            continue;
        }
        EXPECT_EQ(refused.rfind("the plant folder " + c.plant + " is " + c.refusedAs, 0), 0u)
            << c.plant << ": " << refused;
        EXPECT_NE(refused.find("orvanta-demo"), std::string::npos) << refused;
    }
}

}  // namespace
}  // namespace orvanta

#include "app/plant_lock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/without_privileges.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

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
        EXPECT_EQ(contentOf(lockFile()), std::to_string(getpid()) + "\n");

        const PlantLock second = PlantLock::take(plant_.string());
        EXPECT_EQ(second.state(), PlantLock::State::HeldElsewhere);
        EXPECT_EQ(second.holder(), getpid());
        EXPECT_EQ(contentOf(lockFile()), std::to_string(getpid()) + "\n") << "the second writes nothing";
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
    EXPECT_EQ(contentOf(target), "keep");
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
    EXPECT_EQ(contentOf(lockFile()), "12345\n");

    fs::remove(lockFile());
    const int made = withoutPrivileges([&] {
        const PlantLock lock = PlantLock::take(plant_.string());
        return lock.state() == PlantLock::State::Unavailable && lock.problem() == "Permission denied" ? 1 : 0;
    });
    EXPECT_EQ(made, 1);
}

}  // namespace
}  // namespace orvanta

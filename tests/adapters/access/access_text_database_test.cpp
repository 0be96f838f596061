#include "refdata/access_text_database.h"

#include <gtest/gtest.h>

#include "adapters/access/mdb_database.h"
#include "core/vb_error.h"
#include "support/in_memory_database.h"
#include "support/vb_errors.h"

namespace orvanta {
namespace {

using testing::errorNumberOf;

using testing::InMemoryDatabaseEngine;

TEST(AccessTextDatabase, AnswersInTheLanguageThenIn1033ThenWithTheKey) {
    InMemoryDatabaseEngine engine;
    engine.add("/p.vws", Table{"Texts",
                               {"TextKey", "LanguageId", "Text"},
                               {{Variant::text("K1"), Variant::longInt(1033), Variant::text("Stop")},
                                {Variant::text("K1"), Variant::longInt(1031), Variant::text("Halt")},
                                {Variant::text("K2"), Variant::longInt(1036), Variant::text("Porte")},
                                {Variant::text("K3"), Variant::null(), Variant::text("lost")},
                                {Variant::text("K4"), Variant::longInt(1031), Variant::null()}}});
    AccessTextDatabase texts(engine);
    EXPECT_EQ(errorNumberOf([&] { texts.GetText(1031, "K1", 0); }), kObjectNotSet) << "before Open";
    EXPECT_EQ(errorNumberOf([&] { texts.Open(); }), kObjectNotSet) << "Open before Init";
    texts.Init("/p.vws");
    texts.Open();
    EXPECT_EQ(engine.closed, 2) << "the file is closed after Init and after Open";
    EXPECT_EQ(texts.GetText(1031, "K1", 0), "Halt");
    EXPECT_EQ(texts.GetText(1040, "K1", 0), "Stop");
    EXPECT_EQ(texts.GetText(1031, "K2", 0), "K2");
    EXPECT_EQ(texts.GetText(1031, "K3", 0), "K3");
    EXPECT_EQ(texts.GetText(1031, "K4", 0), "K4");
    EXPECT_EQ(texts.GetText(1031, "unknown", 0), "unknown");
    texts.Close();
    EXPECT_EQ(errorNumberOf([&] { texts.GetText(1031, "K1", 0); }), kObjectNotSet);
}

TEST(AccessTextDatabase, FailsOnAMissingFileOrTable) {
    InMemoryDatabaseEngine engine;
    engine.add("/other.vws", Table{"Alarmdefs", {"ID"}, {}});
    AccessTextDatabase texts(engine);
    EXPECT_EQ(errorNumberOf([&] { texts.Init("/missing.vws"); }), database_error::kCouldNotFindFile);
    texts.Init("/other.vws");
    EXPECT_EQ(errorNumberOf([&] { texts.Open(); }), database_error::kTableNotFound);
}

TEST(AccessTextDatabase, ANewInitClosesTheTextsAndAFailedOneForgetsTheOldFile) {
    InMemoryDatabaseEngine engine;
    engine.add("/p.vws", Table{"Texts",
                               {"TextKey", "LanguageId", "Text"},
                               {{Variant::text("K1"), Variant::longInt(1033), Variant::text("Stop")}}});
    AccessTextDatabase texts(engine);
    texts.Init("/p.vws");
    texts.Open();
    texts.Init("/p.vws");
    EXPECT_EQ(errorNumberOf([&] { texts.GetText(1033, "K1", 0); }), kObjectNotSet) << "Init without Open";
    texts.Open();
    EXPECT_EQ(texts.GetText(1033, "K1", 0), "Stop");
    EXPECT_EQ(errorNumberOf([&] { texts.Init("/missing.vws"); }), database_error::kCouldNotFindFile);
    EXPECT_EQ(errorNumberOf([&] { texts.Open(); }), kObjectNotSet) << "not the file of the Init before";
}

TEST(AccessTextDatabase, ReadsTheDemoProjectsTexts) {
    MdbDatabaseEngine engine(ORVANTA_MDB_READER);
    AccessTextDatabase texts(engine);
    texts.Init(std::string(ORVANTA_SOURCE_DIR) + "/demo/plant/Program/Pelmar.vws");
    texts.Open();
    EXPECT_EQ(texts.GetText(1031, "M1_F01", 0), "Not-Halt betätigt");
    EXPECT_EQ(texts.GetText(1033, "M1_F01", 0), "Emergency stop pressed");
    EXPECT_EQ(texts.GetText(1049, "M1_F01", 0), "Emergency stop pressed");
}

}  // namespace
}  // namespace orvanta

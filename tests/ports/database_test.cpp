#include "ports/database.h"

#include <gtest/gtest.h>

#include "core/vb_error.h"
#include "support/vb_errors.h"

namespace orvanta {
namespace {

using testing::errorNumberOf;

TEST(DatabaseStatement, OnlyTheSelectAllFromOneTableFormIsRead) {
    EXPECT_EQ(tableOfStatement("SELECT Alarmdefs.* FROM Alarmdefs"), "Alarmdefs");
    EXPECT_EQ(tableOfStatement("  select TidxFonts.*   from  TIDXFONTS "), "TidxFonts");
    for (const char* other : {"SELECT * FROM Alarmdefs", "SELECT A.* FROM B", "SELECT A.* FROM A WHERE 1",
                              "DELETE FROM A", "", "SELECT A.*", "SELECT .* FROM "}) {
        EXPECT_EQ(errorNumberOf([&] { tableOfStatement(other); }), database_error::kInvalidStatement)
            << other;
    }
}

TEST(TableRecordset, WalksForwardAndReadsColumnsByNameInAnyCase) {
    auto table = std::make_shared<Table>(
        Table{"T",
              {"ID", "Name"},
              {{Variant::integer(1), Variant::text("a")}, {Variant::integer(2), Variant::null()}}});
    auto recordset = recordsetOver(table, "'x.mdb'");
    ASSERT_EQ(recordset->FieldCount(), 2);
    EXPECT_EQ(recordset->FieldName(1), "Name");
    EXPECT_EQ(errorNumberOf([&] { recordset->FieldName(2); }), kSubscriptOutOfRange);
    EXPECT_EQ(recordset->FieldValue("id"), Variant::integer(1));
    recordset->MoveNext();
    EXPECT_TRUE(recordset->FieldValue("NAME").isNull());
    try {
        recordset->FieldValue("Missing");
        FAIL();
    } catch (const VbError& error) {
        EXPECT_EQ(error.number(), database_error::kItemNotFound);
        EXPECT_NE(error.description().find("'Missing'"), std::string::npos);
        EXPECT_NE(error.description().find("'T'"), std::string::npos);
        EXPECT_NE(error.description().find("x.mdb"), std::string::npos);
    }
    recordset->MoveNext();
    EXPECT_TRUE(recordset->isEof());
    EXPECT_NE(errorNumberOf([&] { recordset->FieldValue("ID"); }), 0);
    EXPECT_NE(errorNumberOf([&] { recordset->MoveNext(); }), 0);
}

}  // namespace
}  // namespace orvanta

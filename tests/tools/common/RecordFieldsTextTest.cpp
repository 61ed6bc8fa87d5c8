// The field table as the tools show it to people and scripts.
#include "RecordFieldsText.h"

#include <gtest/gtest.h>

#include "RecordFields.h"

namespace {

TEST(RecordFieldsText, LabelsNameTheCodeWhereThereIsOne)
{
    // As the record dump shows them.
    EXPECT_EQ(RecordFieldLabel(FIELD_NAME), "name (00)");
    EXPECT_EQ(RecordFieldLabel(FIELD_EMAIL), "e-mail (61)");
    EXPECT_EQ(RecordFieldLabel(FIELD_UNUSED), "(always empty)");
    EXPECT_EQ(RecordFieldLabel(FIELD_NOTES), "notes");
}

TEST(RecordFieldsText, JsonLinesCarryLabelsInUtf8AndMarkTheTitle)
{
    const std::string codes = FieldCodesJson();
    EXPECT_NE(codes.find("{\"code\":\"01\",\"label\":\"称谓\",\"rule\":\"preferring\",\"field\":null,\"name\":null,"
                         "\"title\":true}\n"),
              std::string::npos)
        << codes;
    EXPECT_NE(codes.find("{\"code\":\"13\",\"label\":\"传真\",\"rule\":\"preferring\",\"field\":4,\"name\":\"fax\","
                         "\"title\":false}\n"),
              std::string::npos)
        << codes;
    const std::string fields = RecordFieldsJson();
    EXPECT_NE(fields.find("{\"field\":8,\"name\":\"e-mail\",\"code\":\"61\",\"checked\":true}\n"), std::string::npos)
        << fields;
}

}  // namespace

#include "core/fieldtable.h"

#include "core/text.h"

namespace tarnwick::core {

namespace {

// clang-format off
constexpr std::array<FieldInfo, k_fieldCount> k_fields = {{
    {FieldId::Frequency,     "Fequency",      "&Frequency",                "Frequency",    2,  true,  "ColWidthFrequency"},
    {FieldId::LastUpdate,    "LastUpdate",    "Last &Update",              "Last Update",  2,  true,  "ColWidthLastUpdate"},
    {FieldId::LastChange,    "LastChange",    "Last &Change",              "Last Change",  2,  true,  "ColWidthLastChange"},
    {FieldId::Reference,     "Reference",     "&Reference",                "Reference",    3,  false, "ColWidthReference"},
    {FieldId::SerNum,        "SerNum",        "&Application Number",       "App #",        2,  false, "ColWidthSerNum"},
    {FieldId::RegNum,        "RegNum",        "&Registration Number",      "Reg #",        2,  false, "ColWidthRegNum"},
    {FieldId::IntNum,        "IntNum",        "&International Reg Number", "Int Reg #",    2,  false, "ColWidthIntNum"},
    {FieldId::Trademark,     "Trademark",     "&Trademark",                "Trademark",    4,  false, "ColWidthTrademark"},
    {FieldId::StatusDate,    "StatusDate",    "Status &Date",              "Status Date",  2,  true,  "ColWidthStatusDate"},
    {FieldId::StatusText,    "StatusText",    "&Status",                   "Status",       10, false, "ColWidthStatusText"},
    {FieldId::LastHistory,   "LastHistory",   "Last &History",             "Last History", 10, false, "ColWidthLastHistory"},
    {FieldId::FilingDate,    "FilingDate",    "&Filing Date",              "Filed",        2,  true,  "ColWidthFilingDate"},
    {FieldId::RegDate,       "RegDate",       "&Registration Date",        "Registered",   2,  true,  "ColWidthRegDate"},
    {FieldId::PublishedDate, "PublishedDate", "&Published Date",           "Published",    2,  true,  "ColWidthPublishedDate"},
    {FieldId::LawOffice,     "LawOffice",     "&Law Office",               "Law Office",   4,  false, "ColWidthLawOffice"},
    {FieldId::Owner,         "Owner",         "&Owner",                    "Owner",        10, false, "ColWidthOwner"},
    {FieldId::Attorney,      "Attorney",      "&Attorney",                 "Attorney",     4,  false, "ColWidthAttorney"},
    {FieldId::Location,      "Location",      "&Location",                 "Location",     6,  true,  "ColWidthLocation"},
    {FieldId::Error,         "Error",         "",                          "Error",        20, false, "ColWidthError"},
}};
// clang-format on

constexpr bool rowsMatchIds()
{
    for (int i = 0; i < k_fieldCount; ++i) {
        if (static_cast<int>(k_fields[static_cast<size_t>(i)].id) != i)
            return false;
    }
    return true;
}
static_assert(rowsMatchIds(), "the row index is the field id");

} // namespace

const std::array<FieldInfo, k_fieldCount>& fieldTable()
{
    return k_fields;
}

const FieldInfo& fieldInfo(FieldId id)
{
    return k_fields.at(static_cast<size_t>(id));
}

std::optional<FieldId> fieldByKey(std::string_view key)
{
    for (const FieldInfo& f : k_fields) {
        if (equalNoCase(f.key, key))
            return f.id;
    }
    return std::nullopt;
}

} // namespace tarnwick::core

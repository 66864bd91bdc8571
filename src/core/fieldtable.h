#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace tarnwick::core {

// The row index of the field table; the key of each row names the field in
// template variables, the XML export and the saved sort column.
enum class FieldId : int {
    Frequency = 0,
    LastUpdate = 1,
    LastChange = 2,
    Reference = 3,
    SerNum = 4,
    RegNum = 5,
    IntNum = 6,
    Trademark = 7,
    StatusDate = 8,
    StatusText = 9,
    LastHistory = 10,
    FilingDate = 11,
    RegDate = 12,
    PublishedDate = 13,
    LawOffice = 14,
    Owner = 15,
    Attorney = 16,
    Location = 17,
    Error = 18,
};
constexpr int k_fieldCount = 19;

struct FieldInfo {
    FieldId id;
    std::string_view key;         // "Fequency" for row 0, as stored files have it
    std::string_view menuCaption; // empty for Error: no Sort item, never a sort column
    std::string_view columnCaption;
    int widthFactor;
    bool defaultDescending;
    std::string_view widthSetting;
};

// The single description of the entry fields that every user walks.
const std::array<FieldInfo, k_fieldCount>& fieldTable();
const FieldInfo& fieldInfo(FieldId id);
// Row by key, compared without regard to case; none for an unknown key.
std::optional<FieldId> fieldByKey(std::string_view key);

// The fields whose exact texts decide whether an entry changed, in order.
constexpr std::array<FieldId, 13> k_watchedFields = {
    FieldId::Reference,  FieldId::SerNum,        FieldId::RegNum,    FieldId::Trademark, FieldId::FilingDate,
    FieldId::RegDate,    FieldId::PublishedDate, FieldId::LawOffice, FieldId::Owner,     FieldId::Attorney,
    FieldId::StatusText, FieldId::LastHistory,   FieldId::Location,
};

} // namespace tarnwick::core

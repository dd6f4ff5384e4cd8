#include "cli/JsonRecord.h"

#include <nlohmann/json.hpp>

#include "cli/Output.h"

struct CJsonRecord::Object {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
};

CJsonRecord::CJsonRecord() : m_object(std::make_unique<Object>()) {}

CJsonRecord::~CJsonRecord() = default;

CJsonRecord::CJsonRecord(const CJsonRecord& other)
    : m_object(std::make_unique<Object>(*other.m_object)) {}

CJsonRecord& CJsonRecord::operator=(const CJsonRecord& other) {
    *m_object = *other.m_object;
    return *this;
}

CJsonRecord& CJsonRecord::Text(std::string_view name, std::string_view value) {
    m_object->json[std::string(name)] = std::string(value);
    return *this;
}

CJsonRecord& CJsonRecord::TextOrNull(std::string_view name, std::string_view value) {
    return value.empty() ? (m_object->json[std::string(name)] = nullptr, *this) : Text(name, value);
}

CJsonRecord& CJsonRecord::Number(std::string_view name, long long value) {
    m_object->json[std::string(name)] = value;
    return *this;
}

CJsonRecord& CJsonRecord::NumberOrNull(std::string_view name, long long value) {
    return value == 0 ? (m_object->json[std::string(name)] = nullptr, *this) : Number(name, value);
}

CJsonRecord& CJsonRecord::Flag(std::string_view name, bool value) {
    m_object->json[std::string(name)] = value;
    return *this;
}

CJsonRecord& CJsonRecord::Texts(std::string_view name, const std::vector<std::string>& values) {
    m_object->json[std::string(name)] = values;
    return *this;
}

CJsonRecord& CJsonRecord::Record(std::string_view name, const CJsonRecord& value) {
    m_object->json[std::string(name)] = value.m_object->json;
    return *this;
}

CJsonRecord& CJsonRecord::Records(std::string_view name, const std::vector<CJsonRecord>& values) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const CJsonRecord& value : values) {
        array.push_back(value.m_object->json);
    }
    m_object->json[std::string(name)] = std::move(array);
    return *this;
}

std::string CJsonRecord::Line() const {
    return m_object->json.dump(-1, ' ', true, nlohmann::ordered_json::error_handler_t::replace);
}

void CJsonRecord::Print() const {
    PrintLine(Line());
}

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

namespace {

constexpr std::size_t kPrintedBytes = 64 * 1024;  // of a long list a write

std::string Dumped(const nlohmann::ordered_json& json) {
    return json.dump(-1, ' ', true, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

std::string CJsonRecord::Line() const {
    return Dumped(m_object->json);
}

void CJsonRecord::Print() const {
    PrintLine(Line());
}

CJsonListPrinter::CJsonListPrinter(const CJsonRecord& record, std::string_view name)
    : m_text(record.Line()) {
    m_text.pop_back();  // the object's "}"
    if (!record.m_object->json.empty()) {
        m_text += ',';
    }
    m_text.append(Dumped(std::string(name))).append(":[");
}

bool CJsonListPrinter::Add(const CJsonRecord& item) {
    if (!m_bFirst) {
        m_text += ',';
    }
    m_bFirst = false;
    m_text.append(item.Line());
    if (m_text.size() >= kPrintedBytes) {
        Flush();
    }
    return !OutputFailed();
}

void CJsonListPrinter::End() {
    m_text.append("]}\n");
    Flush();
}

void CJsonListPrinter::Flush() {
    PrintText(m_text);
    m_text.clear();
}

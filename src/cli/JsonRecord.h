#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One result in the machine form of --json: a JSON object whose fields keep the order they were
// given in, written as one line. Text goes in as the bytes it is: it comes out as a JSON string in
// ASCII, control characters and everything past ASCII escaped as \uXXXX, bytes that are not UTF-8
// as U+FFFD, so that no router's text can break the line, the JSON or the terminal.
class CJsonRecord {
public:
    CJsonRecord();
    ~CJsonRecord();
    CJsonRecord(const CJsonRecord& other);
    CJsonRecord& operator=(const CJsonRecord& other);

    CJsonRecord& Text(std::string_view name, std::string_view value);
    // `value`, or null when it is empty.
    CJsonRecord& TextOrNull(std::string_view name, std::string_view value);
    CJsonRecord& Number(std::string_view name, long long value);
    // `value`, or null when it is 0 (an HTTP status when no answer came).
    CJsonRecord& NumberOrNull(std::string_view name, long long value);
    CJsonRecord& Flag(std::string_view name, bool value);
    CJsonRecord& Texts(std::string_view name, const std::vector<std::string>& values);
    CJsonRecord& Record(std::string_view name, const CJsonRecord& value);
    CJsonRecord& Records(std::string_view name, const std::vector<CJsonRecord>& values);

    // The object on one line, without a line end.
    std::string Line() const;
    // Line() as a line of standard output (PrintLine).
    void Print() const;

private:
    struct Object;
    std::unique_ptr<Object> m_object;
};

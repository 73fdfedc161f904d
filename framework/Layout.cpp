#include "framework/Layout.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>

#include "framework/Exceptions.h"

namespace wc {

namespace {

[[noreturn]] void Fail(int line, const std::string& what) {
    throw Exception("Layout line " + std::to_string(line) + ": " + what);
}

const char* KindName(LayoutValue::Kind kind) {
    switch (kind) {
        case LayoutValue::Kind::Integer: return "integer";
        case LayoutValue::Kind::Float: return "number";
        case LayoutValue::Kind::Identifier: return "identifier";
        case LayoutValue::Kind::String: return "string";
        case LayoutValue::Kind::Set: return "set";
        case LayoutValue::Kind::StringList: return "string list";
    }
    return "value";
}

[[noreturn]] void WrongKind(LayoutValue::Kind wanted, LayoutValue::Kind got) {
    throw Exception(std::string("Invalid property value: ") + KindName(wanted) + " expected, " + KindName(got) +
                    " found");
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    LayoutObject ParseDocument() {
        LayoutObject root = ParseObject();
        SkipSpace();
        if (pos_ < text_.size()) Fail(line_, "text after the last 'end'");
        return root;
    }

private:
    std::string_view text_;
    size_t pos_ = 0;
    int line_ = 1;

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

    void SkipSpace() {
        while (!AtEnd()) {
            const char c = text_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
            } else if (c == ' ' || c == '\t' || c == '\r') {
                ++pos_;
            } else {
                break;
            }
        }
    }

    static bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.'; }

    std::string Name() {
        SkipSpace();
        const size_t start = pos_;
        while (!AtEnd() && IsNameChar(text_[pos_])) ++pos_;
        if (start == pos_) Fail(line_, "name expected");
        return std::string(text_.substr(start, pos_ - start));
    }

    void Expect(char c) {
        SkipSpace();
        if (Peek() != c) Fail(line_, std::string("'") + c + "' expected");
        ++pos_;
    }

    LayoutObject ParseObject() {
        SkipSpace();
        LayoutObject object;
        object.line = line_;
        if (Name() != "object") Fail(line_, "'object' expected");
        object.name = Name();
        Expect(':');
        object.className = Name();
        for (;;) {
            SkipSpace();
            if (AtEnd()) Fail(line_, "'end' expected");
            const size_t save = pos_;
            const int saveLine = line_;
            const std::string word = Name();
            if (word == "end") return object;
            if (word == "object") {
                pos_ = save;
                line_ = saveLine;
                object.children.push_back(ParseObject());
                continue;
            }
            Expect('=');
            object.properties.emplace_back(word, ParseValue());
        }
    }

    // One string: 'quoted' parts (with '' for a quote) and #nnn bytes, joined
    // directly or with '+' across lines.
    std::string ParseString() {
        std::string result;
        for (;;) {
            SkipSpace();
            if (Peek() == '\'') {
                ++pos_;
                for (;;) {
                    if (AtEnd() || Peek() == '\n') Fail(line_, "unterminated string");
                    const char c = text_[pos_++];
                    if (c == '\'') {
                        if (Peek() == '\'') {
                            result += '\'';
                            ++pos_;
                            continue;
                        }
                        break;
                    }
                    result += c;
                }
            } else if (Peek() == '#') {
                ++pos_;
                const size_t start = pos_;
                while (!AtEnd() && std::isdigit(static_cast<unsigned char>(Peek()))) ++pos_;
                if (start == pos_) Fail(line_, "character code expected after '#'");
                const long code = std::strtol(std::string(text_.substr(start, pos_ - start)).c_str(), nullptr, 10);
                if (code > 255) Fail(line_, "character code above 255");
                result += static_cast<char>(code);
            } else if (Peek() == '+' && !result.empty()) {
                ++pos_;
            } else {
                return result;
            }
        }
    }

    LayoutValue ParseValue() {
        SkipSpace();
        LayoutValue value;
        const char c = Peek();
        if (c == '\'' || c == '#') {
            value.kind = LayoutValue::Kind::String;
            value.text = ParseString();
        } else if (c == '[') {
            ++pos_;
            value.kind = LayoutValue::Kind::Set;
            SkipSpace();
            while (Peek() != ']') {
                value.items.push_back(Name());
                SkipSpace();
                if (Peek() == ',') ++pos_;
                else if (Peek() != ']') Fail(line_, "',' or ']' expected");
            }
            ++pos_;
        } else if (c == '(') {
            ++pos_;
            value.kind = LayoutValue::Kind::StringList;
            for (;;) {
                SkipSpace();
                if (Peek() == ')') break;
                if (Peek() != '\'' && Peek() != '#') Fail(line_, "string expected in list");
                value.items.push_back(ParseString());
            }
            ++pos_;
        } else if (c == '-' || c == '$' || std::isdigit(static_cast<unsigned char>(c))) {
            const size_t start = pos_;
            if (c == '-') ++pos_;
            const bool hex = Peek() == '$';
            if (hex) ++pos_;
            while (!AtEnd() && (std::isxdigit(static_cast<unsigned char>(Peek())) || Peek() == '.')) ++pos_;
            std::string token(text_.substr(start, pos_ - start));
            if (hex) {
                const bool negative = token[0] == '-';
                const std::string digits = token.substr(negative ? 2 : 1);
                if (digits.empty()) Fail(line_, "hexadecimal digits expected");
                value.integer = std::strtoll(digits.c_str(), nullptr, 16) * (negative ? -1 : 1);
            } else if (token.find('.') != std::string::npos) {
                value.kind = LayoutValue::Kind::Float;
                value.number = std::strtod(token.c_str(), nullptr);
            } else {
                if (token == "-") Fail(line_, "number expected");
                value.integer = std::strtoll(token.c_str(), nullptr, 10);
            }
        } else {
            value.kind = LayoutValue::Kind::Identifier;
            value.text = Name();
        }
        return value;
    }
};

}  // namespace

int LayoutValue::AsInteger() const {
    if (kind != Kind::Integer) WrongKind(Kind::Integer, kind);
    return static_cast<int>(integer);
}

double LayoutValue::AsFloat() const {
    if (kind == Kind::Integer) return double(integer);
    if (kind != Kind::Float) WrongKind(Kind::Float, kind);
    return number;
}

bool LayoutValue::AsBoolean() const {
    if (kind == Kind::Identifier) {
        if (text == "True") return true;
        if (text == "False") return false;
    }
    throw Exception("Invalid property value: True or False expected");
}

const std::string& LayoutValue::AsString() const {
    if (kind != Kind::String) WrongKind(Kind::String, kind);
    return text;
}

const std::string& LayoutValue::AsIdentifier() const {
    if (kind != Kind::Identifier) WrongKind(Kind::Identifier, kind);
    return text;
}

const std::vector<std::string>& LayoutValue::AsSet() const {
    if (kind != Kind::Set) WrongKind(Kind::Set, kind);
    return items;
}

const std::vector<std::string>& LayoutValue::AsStringList() const {
    if (kind != Kind::StringList) WrongKind(Kind::StringList, kind);
    return items;
}

int LayoutEnum(const LayoutValue& value, std::initializer_list<const char*> names) {
    if (value.kind == LayoutValue::Kind::Integer) {
        const int index = value.AsInteger();
        if (index < 0 || index >= int(names.size())) throw Exception("Value out of range");
        return index;
    }
    int index = 0;
    for (const char* name : names) {
        if (value.AsIdentifier() == name) return index;
        ++index;
    }
    throw Exception("Invalid value " + value.text);
}

LayoutObject ParseLayout(std::string_view text) { return Parser(text).ParseDocument(); }

std::string LoadLayoutResource(const char* resourceName) {
    HRSRC resource = ::FindResourceA(nullptr, resourceName, MAKEINTRESOURCEA(10) /* RT_RCDATA */);
    if (!resource) throw Exception(std::string("Resource ") + resourceName + " not found");
    HGLOBAL loaded = ::LoadResource(nullptr, resource);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (!data) throw Exception(std::string("Resource ") + resourceName + " not found");
    return std::string(static_cast<const char*>(data), ::SizeofResource(nullptr, resource));
}

}  // namespace wc

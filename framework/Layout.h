// Stored window layouts: a text resource per form, in the object/property
// notation below, read when the form is created.
//
//   object Form1: TForm1
//     Width = 574
//     Caption = 'Wave Cleaner'       strings: 'quoted' parts and #nnn bytes
//     Font.Style = [fsBold]          sets
//     Items.Strings = ('a' 'b')      string lists
//     OnClick = Button1Click         identifiers (events name a method)
//     object Label1: TLabel
//       ...
//     end
//   end
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wc {

struct LayoutValue {
    enum class Kind { Integer, Float, Identifier, String, Set, StringList };

    Kind kind = Kind::Integer;
    int64_t integer = 0;
    double number = 0;
    std::string text;                // identifier or string bytes
    std::vector<std::string> items;  // set members or list strings

    // Typed reads; each throws when the value is of another kind.
    int AsInteger() const;
    double AsFloat() const;
    bool AsBoolean() const;
    const std::string& AsString() const;
    const std::string& AsIdentifier() const;
    const std::vector<std::string>& AsSet() const;
    const std::vector<std::string>& AsStringList() const;
};

struct LayoutObject {
    std::string name;
    std::string className;
    std::vector<std::pair<std::string, LayoutValue>> properties;
    std::vector<LayoutObject> children;
    int line = 0;
};

// The index of an enumeration value stored in a layout by its name (or number).
int LayoutEnum(const LayoutValue& value, std::initializer_list<const char*> names);

// Parses one layout; throws wc::Exception with the line number on bad input.
LayoutObject ParseLayout(std::string_view text);

// The RCDATA resource of that name in the executable, as text.
std::string LoadLayoutResource(const char* resourceName);

}  // namespace wc

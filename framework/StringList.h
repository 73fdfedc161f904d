// An ordered list of 8-bit strings with Name=Value lookup, comma text and a
// change notification.
//
// Comma text: items separated by commas or by spaces and control
// characters; an item in double quotes may hold those, with "" standing for
// one quote. Reading it back quotes exactly the items that need it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace wc {

class TStringList {
public:
    TStringList() = default;
    // Copies the strings, not the notification.
    TStringList(const TStringList& other) : items_(other.items_) {}
    TStringList& operator=(const TStringList& other);

    size_t Count() const noexcept { return items_.size(); }
    bool Empty() const noexcept { return items_.empty(); }
    const std::string& operator[](size_t index) const { return items_.at(index); }
    const std::vector<std::string>& Items() const noexcept { return items_; }

    void Add(std::string item);
    void Put(size_t index, std::string item);
    void Delete(size_t index);
    void Clear();
    // Replaces the whole content with one notification.
    void Assign(std::vector<std::string> items);

    // "Name=Value": the text before the first "=" (the whole item when there is none).
    std::string Name(size_t index) const;
    // The text after the first "=" (empty when there is none).
    std::string ValueFromIndex(size_t index) const;
    // The index of the first item with that name (ASCII case-insensitive), or -1.
    int IndexOfName(std::string_view name) const;
    // The value of the first item with that name, or empty.
    std::string Value(std::string_view name) const;

    std::string CommaText() const;
    void SetCommaText(std::string_view text);
    // The items, each followed by CR LF.
    std::string Text() const;

    // Called after every change of the content.
    std::function<void()> OnChange;

    bool operator==(const TStringList& other) const { return items_ == other.items_; }

private:
    void Changed();

    std::vector<std::string> items_;
};

}  // namespace wc

#include "framework/StringList.h"

#include <stdexcept>

#include "framework/Strings.h"

namespace wc {

namespace {

bool IsSeparator(char c) { return c == ',' || static_cast<unsigned char>(c) <= ' '; }

bool NeedsQuotes(const std::string& item) {
    if (item.empty()) return true;  // an empty item would vanish between two commas
    for (char c : item)
        if (IsSeparator(c) || c == '"') return true;
    return false;
}

}  // namespace

TStringList& TStringList::operator=(const TStringList& other) {
    if (this != &other) Assign(other.items_);
    return *this;
}

void TStringList::Changed() {
    if (OnChange) OnChange();
}

void TStringList::Add(std::string item) {
    items_.push_back(std::move(item));
    Changed();
}

void TStringList::Put(size_t index, std::string item) {
    items_.at(index) = std::move(item);
    Changed();
}

void TStringList::Delete(size_t index) {
    if (index >= items_.size()) throw std::out_of_range("list index out of bounds");
    items_.erase(items_.begin() + std::ptrdiff_t(index));
    Changed();
}

void TStringList::Clear() {
    if (items_.empty()) return;
    items_.clear();
    Changed();
}

void TStringList::Assign(std::vector<std::string> items) {
    items_ = std::move(items);
    Changed();
}

std::string TStringList::Name(size_t index) const {
    const std::string& item = items_.at(index);
    return item.substr(0, item.find('='));
}

std::string TStringList::ValueFromIndex(size_t index) const {
    const std::string& item = items_.at(index);
    const size_t equals = item.find('=');
    return equals == std::string::npos ? std::string() : item.substr(equals + 1);
}

int TStringList::IndexOfName(std::string_view name) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (SameText(Name(i), name)) return int(i);
    return -1;
}

std::string TStringList::Value(std::string_view name) const {
    const int index = IndexOfName(name);
    return index < 0 ? std::string() : ValueFromIndex(size_t(index));
}

std::string TStringList::CommaText() const {
    std::string text;
    for (size_t i = 0; i < items_.size(); ++i) {
        if (i) text += ',';
        const std::string& item = items_[i];
        if (!NeedsQuotes(item)) {
            text += item;
            continue;
        }
        text += '"';
        for (char c : item) {
            if (c == '"') text += '"';
            text += c;
        }
        text += '"';
    }
    return text;
}

void TStringList::SetCommaText(std::string_view text) {
    std::vector<std::string> items;
    size_t at = 0;
    auto skipBlanks = [&] {
        while (at < text.size() && static_cast<unsigned char>(text[at]) <= ' ') ++at;
    };
    skipBlanks();
    while (at < text.size()) {
        std::string item;
        if (text[at] == '"') {
            ++at;
            while (at < text.size()) {
                if (text[at] == '"') {
                    if (at + 1 < text.size() && text[at + 1] == '"') {
                        item += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                item += text[at++];
            }
            // Text glued to the closing quote belongs to the same item.
            while (at < text.size() && !IsSeparator(text[at])) item += text[at++];
        } else {
            while (at < text.size() && !IsSeparator(text[at])) item += text[at++];
        }
        items.push_back(std::move(item));
        skipBlanks();
        if (at < text.size() && text[at] == ',') {
            ++at;
            skipBlanks();
            // A trailing comma ends the text with one more, empty, item.
            if (at == text.size()) items.emplace_back();
        }
    }
    Assign(std::move(items));
}

std::string TStringList::Text() const {
    std::string text;
    for (const std::string& item : items_) text += item + "\r\n";
    return text;
}

}  // namespace wc

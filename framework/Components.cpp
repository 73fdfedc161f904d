#include "framework/Components.h"

#include <algorithm>

#include "framework/Exceptions.h"

namespace wc {

const FieldTable::Entry* FieldTable::Find(std::string_view name) const {
    for (const auto& entry : entries_)
        if (entry.name == name) return &entry;
    return nullptr;
}

const TNotifyEvent* MethodTable::Find(std::string_view name) const {
    for (const auto& [entryName, handler] : entries_)
        if (entryName == name) return &handler;
    return nullptr;
}

TComponent::TComponent(TComponent* owner) : owner_(owner) {}

TComponent::~TComponent() {
    state_ |= csDestroying;
    // Owned components go last-created first, so a component never outlives
    // one it was created after.
    while (!components_.empty()) components_.pop_back();
}

void TComponent::InsertComponent(std::unique_ptr<TComponent> component) {
    if (!component) return;
    component->owner_ = this;
    components_.push_back(std::move(component));
}

TComponent* TComponent::FindComponent(std::string_view name) const {
    for (const auto& component : components_)
        if (component->name_ == name) return component.get();
    return nullptr;
}

bool TComponent::SetProperty(const std::string& name, const LayoutValue& value) {
    if (name == "Name") {
        name_ = value.AsString();
        return true;
    }
    // Design-time placement of non-visual components; nothing at run time.
    if (name == "Left" || name == "Top") return true;
    return false;
}

bool TComponent::SetEvent(const std::string& name, TNotifyEvent handler) { return false; }

void TComponent::Loaded() { state_ &= ~csLoading; }

void TComponent::ReadProperties(TComponent& target, const LayoutObject& layout, const MethodTable& methods) {
    for (const auto& [name, value] : layout.properties) {
        const std::string where = "Error reading " + layout.name + "." + name + ": ";
        if (name.size() > 2 && name.compare(0, 2, "On") == 0 && value.kind == LayoutValue::Kind::Identifier) {
            const TNotifyEvent* handler = methods.Find(value.text);
            if (!handler) throw Exception(where + "Method " + value.text + " does not exist");
            if (!target.SetEvent(name, *handler)) throw Exception(where + "Event does not exist");
            continue;
        }
        try {
            if (!target.SetProperty(name, value)) throw Exception("Property " + name + " does not exist");
        } catch (const Exception& e) {
            throw Exception(where + e.Message());
        }
    }
}

void TComponent::ReadChildren(TComponent& enclosing, const LayoutObject& layout, const FieldTable& fields,
                              const MethodTable& methods, std::vector<TComponent*>& loaded) {
    for (const auto& child : layout.children) {
        const FieldTable::Entry* entry = fields.Find(child.name);
        if (!entry) throw Exception("Error reading " + layout.name + ": Field " + child.name + " not found");
        if (entry->className != child.className)
            throw Exception("Error reading " + child.name + ": class " + child.className + " expected to be " +
                            entry->className);
        TComponent& component = Adopt(entry->create(this));
        component.name_ = child.name;
        component.state_ |= csLoading;
        ReadChild(component, enclosing);
        ReadProperties(component, child, methods);
        loaded.push_back(&component);
        ReadChildren(component, child, fields, methods, loaded);
    }
}

void TComponent::ReadLayout(const LayoutObject& layout) {
    FieldTable fields;
    MethodTable methods;
    DeclareFields(fields);
    DeclareMethods(methods);
    state_ |= csLoading;
    name_ = layout.name;
    ReadProperties(*this, layout, methods);
    std::vector<TComponent*> loaded;
    ReadChildren(*this, layout, fields, methods, loaded);
    loaded.push_back(this);  // the root last: it may rely on its children being loaded
    for (TComponent* component : loaded) component->Loaded();
}

}  // namespace wc

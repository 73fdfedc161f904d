// Components: objects with a name, an owner that frees them, published
// properties read from a stored layout, and a loading/destroying state.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/Layout.h"

namespace wc {

class TComponent;

// An event handler taking its sender; fired only when assigned.
using TNotifyEvent = std::function<void(TComponent* sender)>;

enum ComponentStateFlag : unsigned {
    csLoading = 1u << 0,     // properties are being read from a layout
    csDestroying = 1u << 1,  // the destructor has started
};

// The components a layout names, declared by the root that owns the layout:
// each entry creates a component of the declared class into its field.
class FieldTable {
public:
    struct Entry {
        std::string name;
        std::string className;
        std::function<std::unique_ptr<TComponent>(TComponent* owner)> create;
    };

    template <class T>
    void Field(std::string name, T*& field) {
        entries_.push_back({std::move(name), T::ClassName(), [&field](TComponent* owner) {
                                auto component = std::make_unique<T>(owner);
                                field = component.get();
                                return std::unique_ptr<TComponent>(std::move(component));
                            }});
    }
    const Entry* Find(std::string_view name) const;

private:
    std::vector<Entry> entries_;
};

// The handlers a layout may name for events, declared by its root.
class MethodTable {
public:
    template <class T>
    void Method(std::string name, T* self, void (T::*method)(TComponent*)) {
        entries_.emplace_back(std::move(name), [self, method](TComponent* sender) { (self->*method)(sender); });
    }
    const TNotifyEvent* Find(std::string_view name) const;

private:
    std::vector<std::pair<std::string, TNotifyEvent>> entries_;
};

class TComponent {
public:
    explicit TComponent(TComponent* owner);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    static const char* ClassName() { return "TComponent"; }

    TComponent* Owner() const noexcept { return owner_; }
    const std::string& Name() const noexcept { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

    unsigned ComponentState() const noexcept { return state_; }
    bool IsLoading() const noexcept { return state_ & csLoading; }
    bool IsDestroying() const noexcept { return state_ & csDestroying; }

    // Takes ownership of a component created with this one as its owner.
    template <class T>
    T& Adopt(std::unique_ptr<T> component) {
        T& result = *component;
        InsertComponent(std::unique_ptr<TComponent>(std::move(component)));
        return result;
    }
    size_t ComponentCount() const noexcept { return components_.size(); }
    TComponent* Components(size_t index) const { return components_.at(index).get(); }
    TComponent* FindComponent(std::string_view name) const;

    // Sets a published property from a layout; false when there is no such
    // property. Derived classes handle theirs and pass the rest on.
    virtual bool SetProperty(const std::string& name, const LayoutValue& value);
    // Assigns an event handler named in a layout; false when there is no such event.
    virtual bool SetEvent(const std::string& name, TNotifyEvent handler);
    // Called once all properties of the layout have been read.
    virtual void Loaded();

    // Reads a stored layout into this component: creates the components it
    // names (this one owns them), sets their properties, calls Loaded on each.
    void ReadLayout(const LayoutObject& layout);

protected:
    // Declared by a layout root; the base declares nothing.
    virtual void DeclareFields(FieldTable& fields) {}
    virtual void DeclareMethods(MethodTable& methods) {}
    // Called for each component read from a layout, with the component that
    // encloses it there (for controls: their parent).
    virtual void ReadChild(TComponent& child, TComponent& enclosing) {}

    void SetComponentState(unsigned flags) noexcept { state_ |= flags; }
    // Frees the component created last.
    void DestroyLastComponent() {
        if (!components_.empty()) components_.pop_back();
    }
    void ClearComponentState(unsigned flags) noexcept { state_ &= ~flags; }

private:
    void InsertComponent(std::unique_ptr<TComponent> component);
    void ReadProperties(TComponent& target, const LayoutObject& layout, const MethodTable& methods);
    void ReadChildren(TComponent& enclosing, const LayoutObject& layout, const FieldTable& fields,
                      const MethodTable& methods, std::vector<TComponent*>& loaded);

    TComponent* owner_;
    std::string name_;
    unsigned state_ = 0;
    std::vector<std::unique_ptr<TComponent>> components_;
};

// Creates a component owned by `owner` and returns it.
template <class T, class... Args>
T& MakeComponent(TComponent& owner, Args&&... args) {
    return owner.Adopt(std::make_unique<T>(&owner, std::forward<Args>(args)...));
}

}  // namespace wc

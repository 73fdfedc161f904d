// One-to-many change notification between objects that do not own each
// other: an observable keeps a list of observers (not owning them), each
// observer knows the one observable it is registered with.
#pragma once

#include <functional>
#include <vector>

class TMMObservable;
class TMMObserver;

// Sender: the observer; data: the object that changed.
using TMMNotifyEvent = std::function<void(TMMObserver* sender, void* data)>;

class TMMObserver {
public:
    TMMObserver() = default;
    // Leaves its observable.
    virtual ~TMMObserver();
    TMMObserver(const TMMObserver&) = delete;
    TMMObserver& operator=(const TMMObserver&) = delete;

    virtual void Update(void* data);

    TMMObservable* Observable() const noexcept { return observable_; }
    bool Disabled() const noexcept { return disabled_; }
    void SetDisabled(bool value) noexcept { disabled_ = value; }

    TMMNotifyEvent OnNotify;

private:
    friend class TMMObservable;
    TMMObservable* observable_ = nullptr;
    bool disabled_ = false;
};

class TMMObservable {
public:
    TMMObservable() = default;
    // Lets go of all its observers, the last added first.
    virtual ~TMMObservable();
    TMMObservable(const TMMObservable&) = delete;
    TMMObservable& operator=(const TMMObservable&) = delete;

    // Registers the observer here, taking it from any other observable.
    void AddObserver(TMMObserver* observer);
    // Only for an observer registered here.
    void RemoveObserver(TMMObserver* observer);
    // Updates every observer, the last added first. Observers may leave
    // from inside an update; those not yet reached and still here are updated.
    void NotifyObservers(void* data);

    size_t ObserverCount() const noexcept { return observers_.size(); }
    TMMObserver* Observers(size_t index) const { return observers_.at(index); }
    bool Disabled() const noexcept { return disabled_; }
    void SetDisabled(bool value) noexcept { disabled_ = value; }

private:
    std::vector<TMMObserver*> observers_;
    bool disabled_ = false;
};

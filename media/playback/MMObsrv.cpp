#include "media/playback/MMObsrv.h"

#include <algorithm>

TMMObserver::~TMMObserver() {
    if (observable_) observable_->RemoveObserver(this);
}

void TMMObserver::Update(void* data) {
    if (!disabled_ && OnNotify) OnNotify(this, data);
}

TMMObservable::~TMMObservable() {
    while (!observers_.empty()) {
        observers_.back()->observable_ = nullptr;
        observers_.pop_back();
    }
}

void TMMObservable::AddObserver(TMMObserver* observer) {
    if (!observer) return;
    if (observer->observable_ == this) return;  // once in the list is enough
    if (observer->observable_) observer->observable_->RemoveObserver(observer);
    observers_.push_back(observer);
    observer->observable_ = this;
}

void TMMObservable::RemoveObserver(TMMObserver* observer) {
    if (!observer || observer->observable_ != this) return;
    observers_.erase(std::find(observers_.begin(), observers_.end(), observer));
    observer->observable_ = nullptr;
}

void TMMObservable::NotifyObservers(void* data) {
    if (disabled_) return;
    // Walk a copy of the list from its end, and skip those that have left it
    // meanwhile: an update may remove (or even destroy) any observer, itself
    // or another. Observers that join during the walk wait for the next one.
    const std::vector<TMMObserver*> snapshot = observers_;
    for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
        if (disabled_) return;
        if (std::find(observers_.begin(), observers_.end(), *it) == observers_.end()) continue;
        (*it)->Update(data);
    }
}

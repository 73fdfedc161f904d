// Notification between observables and observers: order, moves, removal
// during a notification, the Disabled flags and the links on destruction.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "media/playback/MMObsrv.h"

namespace {

// An observer that writes its name and the data it got into a shared log.
struct Named {
    TMMObserver observer;
    std::string name;
    Named(std::string n, std::string& log) : name(std::move(n)) {
        observer.OnNotify = [this, &log](TMMObserver* sender, void* data) {
            log += name;
            if (sender != &observer) log += "!sender";
            if (data) log += *static_cast<const char*>(data);
        };
    }
};

}  // namespace

TEST(MMObservable, NotifiesFromTheLastAddedToTheFirst) {
    std::string log;
    TMMObservable observable;
    Named a("a", log), b("b", log), c("c", log);
    observable.AddObserver(&a.observer);
    observable.AddObserver(&b.observer);
    observable.AddObserver(&c.observer);
    char data = '1';
    observable.NotifyObservers(&data);
    EXPECT_EQ(log, "c1b1a1");
}

TEST(MMObservable, AddingNothingOrTwiceKeepsOneEntry) {
    std::string log;
    TMMObservable observable;
    Named a("a", log);
    observable.AddObserver(nullptr);
    EXPECT_EQ(observable.ObserverCount(), 0u);
    observable.AddObserver(&a.observer);
    observable.AddObserver(&a.observer);
    EXPECT_EQ(observable.ObserverCount(), 1u);
    observable.NotifyObservers(nullptr);
    EXPECT_EQ(log, "a");
}

TEST(MMObservable, AddingAnotherOnesObserverMovesIt) {
    std::string log;
    TMMObservable first, second;
    Named a("a", log), b("b", log);
    first.AddObserver(&a.observer);
    first.AddObserver(&b.observer);
    second.AddObserver(&a.observer);
    EXPECT_EQ(a.observer.Observable(), &second);
    EXPECT_EQ(first.ObserverCount(), 1u);
    first.NotifyObservers(nullptr);
    EXPECT_EQ(log, "b");
    log.clear();
    second.NotifyObservers(nullptr);
    EXPECT_EQ(log, "a");
}

TEST(MMObservable, RemovingAnotherOnesObserverDoesNothing) {
    std::string log;
    TMMObservable first, second;
    Named a("a", log);
    first.AddObserver(&a.observer);
    second.RemoveObserver(&a.observer);
    EXPECT_EQ(a.observer.Observable(), &first);
    first.NotifyObservers(nullptr);
    EXPECT_EQ(log, "a");
    first.RemoveObserver(&a.observer);
    EXPECT_EQ(a.observer.Observable(), nullptr);
    EXPECT_EQ(first.ObserverCount(), 0u);
}

TEST(MMObservable, SelfRemovalSparesTheObserversAddedBefore) {
    std::string log;
    TMMObservable observable;
    Named a("a", log), b("b", log), c("c", log);
    b.observer.OnNotify = [&](TMMObserver* sender, void*) {
        log += "b";
        observable.RemoveObserver(sender);
    };
    observable.AddObserver(&a.observer);
    observable.AddObserver(&b.observer);
    observable.AddObserver(&c.observer);
    observable.NotifyObservers(nullptr);
    EXPECT_EQ(log, "cba");
    log.clear();
    observable.NotifyObservers(nullptr);
    EXPECT_EQ(log, "ca");
}

TEST(MMObservable, RemovingAnEarlierObserverSkipsItAndNotifiesNobodyTwice) {
    std::string log;
    TMMObservable observable;
    Named a("a", log), b("b", log), c("c", log), d("d", log);
    c.observer.OnNotify = [&](TMMObserver*, void*) {
        log += "c";
        observable.RemoveObserver(&a.observer);
    };
    observable.AddObserver(&a.observer);
    observable.AddObserver(&b.observer);
    observable.AddObserver(&c.observer);
    observable.AddObserver(&d.observer);
    observable.NotifyObservers(nullptr);
    EXPECT_EQ(log, "dcb");
}

TEST(MMObservable, AnObserverDestroyedDuringANotificationIsNotReached) {
    std::string log;
    TMMObservable observable;
    auto doomed = std::make_unique<Named>("x", log);
    Named a("a", log);
    a.observer.OnNotify = [&](TMMObserver*, void*) {
        log += "a";
        doomed.reset();
    };
    observable.AddObserver(&doomed->observer);
    observable.AddObserver(&a.observer);
    observable.NotifyObservers(nullptr);
    EXPECT_EQ(log, "a");
    EXPECT_EQ(observable.ObserverCount(), 1u);
}

TEST(MMObservableDisabled, DisabledObservableNotifiesNobody) {
    std::string log;
    TMMObservable observable;
    Named a("a", log);
    observable.AddObserver(&a.observer);
    observable.SetDisabled(true);
    observable.NotifyObservers(nullptr);
    EXPECT_EQ(log, "");
    observable.SetDisabled(false);
    observable.NotifyObservers(nullptr);
    EXPECT_EQ(log, "a");
}

TEST(MMObservableDisabled, DisabledObserverIgnoresNotificationsOthersStillGetThem) {
    std::string log;
    TMMObservable observable;
    Named a("a", log), b("b", log);
    observable.AddObserver(&a.observer);
    observable.AddObserver(&b.observer);
    b.observer.SetDisabled(true);
    observable.NotifyObservers(nullptr);
    EXPECT_EQ(log, "a");
    log.clear();
    b.observer.Update(nullptr);
    EXPECT_EQ(log, "") << "Update itself checks the flag";
}

TEST(MMObserverLinks, DestroyedObserverLeavesItsObservable) {
    std::string log;
    TMMObservable observable;
    Named a("a", log);
    {
        Named gone("g", log);
        observable.AddObserver(&gone.observer);
        observable.AddObserver(&a.observer);
    }
    EXPECT_EQ(observable.ObserverCount(), 1u);
    observable.NotifyObservers(nullptr);
    EXPECT_EQ(log, "a");
}

TEST(MMObserverLinks, DestroyedObservableClearsTheLinksButKeepsTheObservers) {
    std::string log;
    Named a("a", log), b("b", log);
    {
        TMMObservable observable;
        observable.AddObserver(&a.observer);
        observable.AddObserver(&b.observer);
    }
    EXPECT_EQ(a.observer.Observable(), nullptr);
    EXPECT_EQ(b.observer.Observable(), nullptr);
    // Still usable on their own, and a new observable takes them.
    TMMObservable next;
    next.AddObserver(&a.observer);
    next.NotifyObservers(nullptr);
    EXPECT_EQ(log, "a");
}

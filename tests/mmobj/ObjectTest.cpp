// The data object's update lock and the media components' design mode.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "media/playback/MMObj.h"

namespace {

// Records the notifications of an object as a string: '<' changing, '>' changed.
struct Recorder {
    std::string log;
    void Attach(TMMObject& object) {
        object.OnChanging = [this, &object](TMMObject* sender) { log += sender == &object ? "<" : "?"; };
        object.OnChange = [this, &object](TMMObject* sender) { log += sender == &object ? ">" : "?"; };
    }
};

// Counts the DoChange calls a descendant sees, with their flag.
class CountingObject : public TMMObject {
public:
    std::string calls;

protected:
    void DoChange(bool changing) override {
        calls += changing ? "T" : "F";
        TMMObject::DoChange(changing);
    }
};

}  // namespace

TEST(MMObjectUpdate, ChangesOutsideABracketFireAtOnce) {
    TMMObject object;
    Recorder recorder;
    recorder.Attach(object);
    object.Changing();
    object.Changed();
    object.Changed();
    EXPECT_EQ(recorder.log, "<>>");
}

TEST(MMObjectUpdate, NestedBracketsFireOnceAtTheOuterEdges) {
    TMMObject object;
    Recorder recorder;
    recorder.Attach(object);
    object.BeginUpdate();
    EXPECT_EQ(recorder.log, "<");
    object.BeginUpdate();
    object.BeginUpdate();
    EXPECT_EQ(object.UpdateCount(), 3);
    object.Changing();
    object.Changed();
    object.EndUpdate();
    object.EndUpdate();
    EXPECT_EQ(recorder.log, "<") << "inner brackets and changes inside must stay silent";
    object.EndUpdate();
    EXPECT_EQ(recorder.log, "<>");
    EXPECT_EQ(object.UpdateCount(), 0);
}

TEST(MMObjectUpdate, DoChangeRunsOnlyAtTheOuterBracket) {
    CountingObject object;
    object.BeginUpdate();
    object.BeginUpdate();
    object.EndUpdate();
    object.EndUpdate();
    object.BeginUpdate();
    object.EndUpdate();
    EXPECT_EQ(object.calls, "TFTF");
}

TEST(MMObjectUpdate, UnassignedEventsAreSkipped) {
    TMMObject object;
    object.BeginUpdate();
    object.EndUpdate();
    object.Changed();
    EXPECT_EQ(object.UpdateCount(), 0);
}

// An EndUpdate without its BeginUpdate drove the count negative, and every
// later change went unannounced.
TEST(MMObjectUpdate, UnmatchedEndUpdateKeepsTheObjectAnnouncing) {
    TMMObject object;
    Recorder recorder;
    recorder.Attach(object);
    object.EndUpdate();
    EXPECT_EQ(object.UpdateCount(), 0);
    object.Changed();
    EXPECT_EQ(recorder.log, ">");
}

namespace {

class Plain : public wc::TComponent {
public:
    using wc::TComponent::TComponent;
};

// Counts the calls of ApplyDesignMode.
class Media : public TMMNonVisualComponent {
public:
    using TMMNonVisualComponent::TMMNonVisualComponent;
    int applied = 0;
    void ApplyDesignMode(bool value) override {
        ++applied;
        TMMNonVisualComponent::ApplyDesignMode(value);
    }
};

}  // namespace

TEST(MMComponentDesignMode, ReachesOwnedMediaComponentsThroughPlainOnes) {
    Media root(nullptr);
    auto& child = wc::MakeComponent<Media>(root);
    auto& plain = wc::MakeComponent<Plain>(root);
    auto& grandchild = wc::MakeComponent<Media>(child);
    auto& underPlain = wc::MakeComponent<Media>(plain);

    root.SetDesignMode(true);
    EXPECT_TRUE(root.IsDesigning());
    EXPECT_TRUE(child.IsDesigning());
    EXPECT_TRUE(grandchild.IsDesigning());
    EXPECT_TRUE(underPlain.IsDesigning());

    root.SetDesignMode(false);
    EXPECT_FALSE(root.IsDesigning());
    EXPECT_FALSE(child.IsDesigning());
    EXPECT_FALSE(grandchild.IsDesigning());
    EXPECT_FALSE(underPlain.IsDesigning());
}

TEST(MMComponentDesignMode, SettingTheCurrentModeDoesNothing) {
    Media root(nullptr);
    root.SetDesignMode(false);
    EXPECT_EQ(root.applied, 0);
    root.SetDesignMode(true);
    root.SetDesignMode(true);
    EXPECT_EQ(root.applied, 1);
    root.SetDesignMode(false);
    EXPECT_EQ(root.applied, 2);
}

#include <gtest/gtest.h>

#include "support/AudioFixtures.h"
#include "support/ChainFixtures.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "media/playback/MMDSPObj.h"

namespace {

using testing_support::PcmFormat;
using testing_support::TestSink;
using testing_support::TestSource;

using Log = std::vector<std::string>;

// A plain chain component that writes every notification it gets to a log.
class Plain : public TMMDSPComponent {
public:
    Plain(wc::TComponent* owner, std::string name, Log* log = nullptr) : TMMDSPComponent(owner), log_(log) {
        SetName(std::move(name));
    }
    bool PublishesInput() const override { return true; }
    bool PublishesOutput() const override { return true; }
    void Opened() override { Note("Opened"), TMMDSPComponent::Opened(); }
    void Closed() override { Note("Closed"), TMMDSPComponent::Closed(); }
    void Started() override { Note("Started"), TMMDSPComponent::Started(); }
    void Paused() override { Note("Paused"), TMMDSPComponent::Paused(); }
    void Restarted() override { Note("Restarted"), TMMDSPComponent::Restarted(); }
    void Stopped() override { Note("Stopped"), TMMDSPComponent::Stopped(); }
    void Rewound() override { Note("Rewound"), TMMDSPComponent::Rewound(); }
    void Looped() override { Note("Looped"), TMMDSPComponent::Looped(); }

private:
    void Note(const char* what) {
        if (log_) log_->push_back(Name() + "." + what);
    }
    Log* log_;
};

// A sound component: it propagates, and logs what reaches its own base handling.
class Sound : public TMMCustomSoundComponent {
public:
    Sound(wc::TComponent* owner, std::string name, Log* log) : TMMCustomSoundComponent(owner), log_(log) {
        SetName(std::move(name));
    }
    bool PublishesInput() const override { return true; }
    bool PublishesOutput() const override { return true; }
    void SetNumBuffers(int32_t) override {}
    int32_t NumBuffers() const override { return 2; }
    void SetDeviceID(TMMDeviceId) override {}
    TMMDeviceId DeviceID() const override { return MapperId; }
    void SetProductName(const std::string&) override {}
    std::string ProductName() const override { return {}; }
    void SetCallBackMode(TMMCBMode) override {}
    TMMCBMode CallBackMode() const override { return cmWindow; }
    void Opened() override { Note("Opened"), TMMCustomSoundComponent::Opened(); }
    void Closed() override { Note("Closed"), TMMCustomSoundComponent::Closed(); }
    void Started() override { Note("Started"), TMMCustomSoundComponent::Started(); }
    void Stopped() override { Note("Stopped"), TMMCustomSoundComponent::Stopped(); }

private:
    void Note(const char* what) { log_->push_back(Name() + "." + what); }
    Log* log_;
};

class ChainTest : public ::testing::Test {
protected:
    template <class T, class... Args>
    T& Make(Args&&... args) {
        return wc::MakeComponent<T>(root_, std::forward<Args>(args)...);
    }
    wc::TComponent root_{nullptr};
    Log log_;
};

TEST_F(ChainTest, LinkingAnInputElsewhereMovesItAndCarriesItsFormat) {
    const WAVEFORMATEX format = PcmFormat(2, 16, 22050);
    auto& a = Make<TestSource>(&format, std::vector<uint8_t>{});
    auto& b = Make<Plain>("B");
    auto& c = Make<Plain>("C");
    b.SetInput(&a);
    ASSERT_EQ(a.Output(), &b);
    ASSERT_NE(b.PWaveFormat(), nullptr);
    EXPECT_EQ(b.PWaveFormat()->nSamplesPerSec, 22050u);
    EXPECT_EQ(b.InputName(), "Output");
    EXPECT_EQ(a.OutputName(), "Input");

    c.SetInput(&a);
    EXPECT_EQ(b.Input(), nullptr);
    EXPECT_EQ(a.Output(), &c);
    EXPECT_EQ(c.Input(), &a);
    ASSERT_NE(c.PWaveFormat(), nullptr);
    EXPECT_EQ(c.PWaveFormat()->nChannels, 2);
    // The format is a copy, not the source's record.
    EXPECT_NE(c.PWaveFormat(), a.PWaveFormat());

    // Linking through the output side moves it back.
    a.SetOutput(&b);
    EXPECT_EQ(c.Input(), nullptr);
    EXPECT_EQ(b.Input(), &a);
    EXPECT_EQ(c.PWaveFormat(), nullptr);
}

TEST_F(ChainTest, LinksThatWouldMakeACycleAreIgnored) {
    auto& a = Make<Plain>("A");
    auto& b = Make<Plain>("B");
    auto& c = Make<Plain>("C");
    a.SetInput(&a);
    EXPECT_EQ(a.Input(), nullptr);
    b.SetInput(&a);
    c.SetInput(&b);
    a.SetInput(&c);  // a feeds c through b
    EXPECT_EQ(a.Input(), nullptr);
    EXPECT_EQ(c.Output(), nullptr);
    c.SetOutput(&a);
    EXPECT_EQ(c.Output(), nullptr);
    a.SetInput(&b);  // b is fed by a
    EXPECT_EQ(a.Input(), nullptr);
    EXPECT_EQ(b.Input(), &a);
    EXPECT_EQ(b.Output(), &c);
}

TEST_F(ChainTest, ASideThatIsNotPublishedLinksOnlyWhenAllowed) {
    auto& sink = Make<TestSink>();  // publishes Input only
    auto& other = Make<TestSink>();
    other.SetInput(&sink);
    EXPECT_EQ(other.Input(), nullptr);
    sink.AllowOutputLink = true;
    other.SetInput(&sink);
    EXPECT_EQ(other.Input(), &sink);
}

TEST_F(ChainTest, RemovingAnInputClearsTheFormatDownstream) {
    const WAVEFORMATEX format = PcmFormat(1, 8, 8000);
    auto& source = Make<TestSource>(&format, std::vector<uint8_t>{});
    auto& b = Make<Plain>("B");
    auto& c = Make<Plain>("C");
    c.SetInput(&b);
    b.SetInput(&source);
    ASSERT_NE(c.PWaveFormat(), nullptr);
    EXPECT_EQ(c.PWaveFormat()->nSamplesPerSec, 8000u);

    b.SetInput(nullptr);
    EXPECT_EQ(source.Output(), nullptr);
    EXPECT_EQ(b.PWaveFormat(), nullptr);
    EXPECT_EQ(c.PWaveFormat(), nullptr);
    EXPECT_EQ(c.Input(), &b);
}

TEST_F(ChainTest, ASourceFormatChangeReachesTheSink) {
    const WAVEFORMATEX first = PcmFormat(1, 16, 11025);
    const WAVEFORMATEX second = PcmFormat(2, 8, 48000);
    auto& source = Make<TestSource>(&first, std::vector<uint8_t>{});
    auto& middle = Make<Plain>("M");
    auto& sink = Make<TestSink>();
    source.SetOutput(&middle);
    middle.SetOutput(&sink);
    source.SetPWaveFormat(&second);
    ASSERT_NE(sink.PWaveFormat(), nullptr);
    EXPECT_EQ(sink.PWaveFormat()->nSamplesPerSec, 48000u);
    EXPECT_EQ(sink.PWaveFormat()->nChannels, 2);
}

TEST_F(ChainTest, DestroyingAComponentUnlinksBothSides) {
    const WAVEFORMATEX format = PcmFormat(2, 16);
    const size_t before = TMMDSPComponent::LiveCount();
    auto source = std::make_unique<TestSource>(nullptr, &format, std::vector<uint8_t>{});
    auto middle = std::make_unique<Plain>(nullptr, "M");
    auto sink = std::make_unique<TestSink>(nullptr);
    middle->SetInput(source.get());
    sink->SetInput(middle.get());
    EXPECT_EQ(TMMDSPComponent::LiveCount(), before + 3);
    ASSERT_NE(sink->PWaveFormat(), nullptr);

    middle.reset();
    EXPECT_EQ(source->Output(), nullptr);
    EXPECT_EQ(sink->Input(), nullptr);
    EXPECT_EQ(sink->PWaveFormat(), nullptr);
    EXPECT_EQ(TMMDSPComponent::LiveCount(), before + 2);
}

TEST_F(ChainTest, OpenedFixesTheBufferSizeToWholeBlocks) {
    struct Case {
        uint16_t blockAlign;
        int32_t expected;
    };
    for (const Case c : {Case{4, 1000}, Case{6, 996}, Case{1200, 1200}, Case{0, 1000}}) {
        auto& component = Make<Plain>("P");
        WAVEFORMATEX format = PcmFormat(2, 16);
        format.nBlockAlign = c.blockAlign;
        component.SetPWaveFormat(&format);
        component.SetBufferSize(1000);
        component.Opened();
        EXPECT_EQ(component.BufferSize(), c.expected) << "block alignment " << c.blockAlign;
        EXPECT_EQ(component.ConfiguredBufferSize(), 1000);
        component.Closed();
        EXPECT_EQ(component.BufferSize(), 1000);
    }
    auto& noFormat = Make<Plain>("N");
    noFormat.SetBufferSize(777);
    noFormat.Opened();
    EXPECT_EQ(noFormat.BufferSize(), 777);
}

TEST_F(ChainTest, ChangingTheBufferSizeOrFormatWhileStartedStopsFirst) {
    auto& component = Make<Plain>("P", &log_);
    component.Opened();
    component.Started();
    ASSERT_TRUE(component.IsStarted());
    component.SetBufferSize(component.ConfiguredBufferSize());  // same value: nothing
    EXPECT_TRUE(component.IsStarted());
    log_.clear();
    component.SetBufferSize(4096);
    EXPECT_EQ(log_, (Log{"P.Stopped"}));
    EXPECT_FALSE(component.IsStarted());

    component.Started();
    log_.clear();
    const WAVEFORMATEX format = PcmFormat(1, 16);
    component.SetPWaveFormat(&format);
    EXPECT_EQ(log_, (Log{"P.Stopped"}));
}

TEST_F(ChainTest, BaseNotificationsKeepTheirFlagRules) {
    auto& c = Make<Plain>("P");
    c.Started();  // not opened: ignored
    EXPECT_FALSE(c.IsStarted());
    c.Opened();
    c.Started();
    c.Paused();
    EXPECT_TRUE(c.IsPaused());
    c.Restarted();
    EXPECT_FALSE(c.IsPaused());
    c.Paused();
    c.Stopped();
    EXPECT_FALSE(c.IsStarted());
    EXPECT_FALSE(c.IsPaused());
    c.Started();
    c.Opened();  // already opened: keeps started
    EXPECT_TRUE(c.IsStarted());
    c.Closed();
    EXPECT_FALSE(c.IsOpened());
}

TEST_F(ChainTest, BufferLoadWithoutInputFillsOnlyWhatTheEventProvides) {
    auto& head = Make<Plain>("H");
    auto& sink = Make<TestSink>();
    sink.SetInput(&head);
    int hooks = 0;
    head.OnBufferLoaded = [&](wc::TComponent*, WaveHdrEx*) { ++hooks; };

    std::vector<uint8_t> out;
    bool more = true;
    EXPECT_EQ(sink.PullOnce(64, out, more), 0u);
    EXPECT_FALSE(more);
    EXPECT_EQ(hooks, 0);  // nothing recorded, no post-load hook

    head.OnBufferLoad = [](wc::TComponent*, WaveHdrEx* header, bool& moreBuffers) {
        WaveHdrData(header)[0] = 0x5A;
        header->wh.dwBytesRecorded = 1;
        moreBuffers = true;
    };
    EXPECT_EQ(sink.PullOnce(64, out, more), 1u);
    EXPECT_TRUE(more);
    EXPECT_EQ(out, (std::vector<uint8_t>{0x5A}));
    EXPECT_EQ(hooks, 1);
}

TEST_F(ChainTest, BufferReadyTravelsDownstream) {
    auto& a = Make<Plain>("A");
    auto& b = Make<Plain>("B");
    auto& c = Make<Plain>("C");
    b.SetInput(&a);
    c.SetInput(&b);
    Log seen;
    for (auto* p : {&a, &b, &c})
        p->OnBufferReady = [&seen](wc::TComponent* sender, WaveHdrEx*) { seen.push_back(sender->Name()); };
    WaveHdrEx header{};
    a.BufferReady(&header);
    EXPECT_EQ(seen, (Log{"A", "B", "C"}));
}

TEST_F(ChainTest, LinkNamesAreCutToTwentyCharacters) {
    auto& a = Make<Plain>("A");
    auto& b = Make<Plain>("B");
    a.SetInputLink(&b, "AVeryLongPropertyNameIndeed");
    EXPECT_EQ(a.InputName(), "AVeryLongPropertyNam");
    // A link whose stored name no longer matches is not dropped by a broadcast.
    TMMDSPComponent::BroadcastLinkChanged(&b, true, "Output");
    EXPECT_EQ(a.Input(), &b);
}

// P1 -> S1 -> P2 -> S2 -> P3: S1 covers P1 (no sound component feeds it)
// and P2; S2 covers P3.
class PropagationTest : public ChainTest {
protected:
    void SetUp() override {
        p1 = &Make<Plain>("P1", &log_);
        s1 = &Make<Sound>("S1", &log_);
        p2 = &Make<Plain>("P2", &log_);
        s2 = &Make<Sound>("S2", &log_);
        p3 = &Make<Plain>("P3", &log_);
        s1->SetInput(p1);
        p2->SetInput(s1);
        s2->SetInput(p2);
        p3->SetInput(s2);
        s1->SetBufferSize(4000);
        s2->SetBufferSize(1500);
        log_.clear();
    }
    Plain *p1, *p2, *p3;
    Sound *s1, *s2;
};

TEST_F(PropagationTest, OpenedReachesTheCoveredComponentsAndTheNextDevice) {
    s1->Opened();
    EXPECT_EQ(log_, (Log{"S1.Opened", "P1.Opened", "P2.Opened", "S2.Opened", "P3.Opened"}));
    EXPECT_FALSE(s1->Slaved());
    EXPECT_TRUE(s2->Slaved());
    // Each device hands its configured size to the components it opens.
    EXPECT_EQ(p1->ConfiguredBufferSize(), 4000);
    EXPECT_EQ(p2->ConfiguredBufferSize(), 4000);
    EXPECT_EQ(s2->ConfiguredBufferSize(), 4000);
    EXPECT_EQ(p3->ConfiguredBufferSize(), 4000);
    for (TMMDSPComponent* c : {static_cast<TMMDSPComponent*>(p1), static_cast<TMMDSPComponent*>(s1), static_cast<TMMDSPComponent*>(p2),
                               static_cast<TMMDSPComponent*>(s2), static_cast<TMMDSPComponent*>(p3)})
        EXPECT_TRUE(c->IsOpened()) << c->Name();
}

TEST_F(PropagationTest, StoppedReachesTheNextDeviceFirst) {
    s1->Opened();
    s1->Started();
    log_.clear();
    s1->Stopped();
    EXPECT_EQ(log_, (Log{"S1.Stopped", "S2.Stopped", "P3.Stopped", "P1.Stopped", "P2.Stopped"}));
    EXPECT_FALSE(p1->IsStarted());
    EXPECT_FALSE(p3->IsStarted());
    log_.clear();
    s1->Closed();
    EXPECT_EQ(log_, (Log{"S1.Closed", "S2.Closed", "P3.Closed", "P1.Closed", "P2.Closed"}));
    EXPECT_FALSE(p2->IsOpened());
}

TEST_F(PropagationTest, ASlavedDeviceCoversOnlyWhatFollowsIt) {
    s2->Opened();
    EXPECT_EQ(log_, (Log{"S2.Opened", "P3.Opened"}));
    EXPECT_TRUE(s2->Slaved());
    EXPECT_FALSE(p1->IsOpened());
    EXPECT_FALSE(p2->IsOpened());
}

TEST_F(PropagationTest, PauseAndRestartReachThePlainComponents) {
    s1->Opened();
    s1->Started();
    s1->Paused();
    EXPECT_TRUE(p1->IsPaused());
    EXPECT_TRUE(p3->IsPaused());
    s1->Restarted();
    EXPECT_FALSE(p2->IsPaused());
    log_.clear();
    s1->Rewound();
    s1->Looped();
    EXPECT_EQ(log_, (Log{"P1.Rewound", "P2.Rewound", "P3.Rewound", "P1.Looped", "P2.Looped", "P3.Looped"}));
}

class CountingThread : public TMMDSPThread {
public:
    using TMMDSPThread::TMMDSPThread;
    ~CountingThread() override { WaitFor(); }
    std::atomic<bool> sawItself{false};

protected:
    void Run() override { sawItself = IsCurrentThreadDSP(); }
};

TEST(DSPThreadTest, LiveThreadsKnowTheirOwnBodyAndLeaveTheListWhenFreed) {
    const size_t before = TMMDSPThread::LiveCount();
    {
        CountingThread thread(nullptr);
        EXPECT_EQ(TMMDSPThread::LiveCount(), before + 1);
        EXPECT_FALSE(thread.Finished());  // created suspended
        ASSERT_TRUE(thread.Start());
        thread.WaitFor();
        EXPECT_TRUE(thread.sawItself);
        EXPECT_FALSE(TMMDSPThread::IsCurrentThreadDSP());
    }
    EXPECT_EQ(TMMDSPThread::LiveCount(), before);
}

}  // namespace

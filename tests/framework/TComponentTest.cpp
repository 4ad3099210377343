#include "framework/TComponent.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Records its destruction into a shared log, and whether it was marked as being destroyed by then.
class TLogged : public TComponent {
public:
    TLogged(TComponent* AOwner, std::string AName, std::vector<std::string>& ALog) : TComponent(AOwner), Log(ALog) {
        Name = std::move(AName);
    }
    ~TLogged() override { Log.push_back(Name + (IsDestroying() ? "*" : "")); }
    std::vector<std::string>& Log;
};

class TThrowing : public TComponent {
public:
    explicit TThrowing(TComponent* AOwner) : TComponent(AOwner), Child(new TComponent(this)) {
        throw std::runtime_error("refused");
    }
    TComponent* Child;
};

TEST(TComponent, OwnerDestroysWhatItOwnsNewestFirst) {
    std::vector<std::string> Log;
    {
        TComponent Owner(nullptr);
        new TLogged(&Owner, "a", Log);
        auto* B = new TLogged(&Owner, "b", Log);
        new TLogged(B, "b1", Log);
        new TLogged(&Owner, "c", Log);
        EXPECT_EQ(Owner.ComponentCount(), 3);
    }
    EXPECT_EQ(Log, (std::vector<std::string>{"c*", "b*", "b1*", "a*"}));
}

TEST(TComponent, ComponentDestroyedOnItsOwnLeavesItsOwnersList) {
    std::vector<std::string> Log;
    TComponent Owner(nullptr);
    auto* A = new TLogged(&Owner, "a", Log);
    new TLogged(&Owner, "b", Log);
    delete A;
    ASSERT_EQ(Owner.ComponentCount(), 1);
    EXPECT_EQ(Owner.Components(0)->Name, "b");
    EXPECT_EQ(Log, std::vector<std::string>{"a"});
}

TEST(TComponent, ExceptionInAConstructorLeavesNothingBehind) {
    TComponent Owner(nullptr);
    EXPECT_THROW(new TThrowing(&Owner), std::runtime_error);
    // The half-built component left its owner; the leak checker watches the child it had made.
    EXPECT_EQ(Owner.ComponentCount(), 0);
}

TEST(TComponent, StateFlagsAndLoaded) {
    TComponent C(nullptr);
    EXPECT_FALSE(C.Designing());
    C.SetState(TComponentState::Loading, true);
    C.SetState(TComponentState::Designing, true);
    C.Loaded();
    EXPECT_FALSE(C.HasState(TComponentState::Loading));
    EXPECT_TRUE(C.Designing());
}

TEST(TComponent, CreateSameClassGivesAnOwnedComponent) {
    TComponent Owner(nullptr);
    TComponent* Made = Owner.CreateSameClass(&Owner);
    EXPECT_EQ(Made->Owner(), &Owner);
    EXPECT_EQ(Owner.ComponentCount(), 1);
}

} // namespace

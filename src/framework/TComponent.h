#pragma once
// The component base: an owner that destroys what it owns, a name, a state, and an after-load hook.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

enum class TComponentState : uint8_t { Designing = 1, Loading = 2, Destroying = 4 };

class TComponent {
public:
    // The new component joins AOwner's list (when given), which then destroys it.
    explicit TComponent(TComponent* AOwner);
    virtual ~TComponent();

    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    // Creates another component of this one's dynamic class, owned by AOwner. Classes that are
    // instantiated this way (the server's connection instances) override it.
    virtual TComponent* CreateSameClass(TComponent* AOwner) const;

    // Called once the component's stored properties are in place; clears the loading state.
    virtual void Loaded();

    TComponent* Owner() const { return FOwner; }
    int ComponentCount() const;
    TComponent* Components(int Index) const;

    bool HasState(TComponentState State) const;
    void SetState(TComponentState State, bool On);
    bool Designing() const { return HasState(TComponentState::Designing); }
    bool IsDestroying() const { return HasState(TComponentState::Destroying); }
    // Marks this component and everything it owns as being destroyed.
    void Destroying();

    std::string Name;
    int32_t Tag = 0;

private:
    void InsertComponent(TComponent* Child);
    void RemoveComponent(TComponent* Child);

    TComponent* FOwner = nullptr;
    std::vector<TComponent*> FComponents;
    // Owned components may be added on one thread and destroyed on another (serve threads).
    mutable std::mutex FComponentsLock;
    uint8_t FState = 0;
};

#include "TComponent.h"

#include "Exceptions.h"

#include <algorithm>

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
    if (FOwner) FOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    Destroying();
    // Newest first; each child leaves the list itself in its destructor.
    for (;;) {
        TComponent* Child = nullptr;
        {
            std::lock_guard Lock(FComponentsLock);
            if (FComponents.empty()) break;
            Child = FComponents.back();
        }
        delete Child;
    }
    if (FOwner) FOwner->RemoveComponent(this);
}

TComponent* TComponent::CreateSameClass(TComponent* AOwner) const { return new TComponent(AOwner); }

void TComponent::Loaded() { SetState(TComponentState::Loading, false); }

int TComponent::ComponentCount() const {
    std::lock_guard Lock(FComponentsLock);
    return static_cast<int>(FComponents.size());
}

TComponent* TComponent::Components(int Index) const {
    std::lock_guard Lock(FComponentsLock);
    if (Index < 0 || Index >= static_cast<int>(FComponents.size()))
        throw ERangeError("Component index out of bounds (" + std::to_string(Index) + ")");
    return FComponents[static_cast<size_t>(Index)];
}

bool TComponent::HasState(TComponentState State) const {
    return (FState & static_cast<uint8_t>(State)) != 0;
}

void TComponent::SetState(TComponentState State, bool On) {
    if (On)
        FState |= static_cast<uint8_t>(State);
    else
        FState &= static_cast<uint8_t>(~static_cast<uint8_t>(State));
}

void TComponent::Destroying() {
    if (IsDestroying()) return;
    SetState(TComponentState::Destroying, true);
    std::vector<TComponent*> Children;
    {
        std::lock_guard Lock(FComponentsLock);
        Children = FComponents;
    }
    for (TComponent* Child : Children) Child->Destroying();
}

void TComponent::InsertComponent(TComponent* Child) {
    std::lock_guard Lock(FComponentsLock);
    FComponents.push_back(Child);
}

void TComponent::RemoveComponent(TComponent* Child) {
    std::lock_guard Lock(FComponentsLock);
    auto It = std::find(FComponents.begin(), FComponents.end(), Child);
    if (It != FComponents.end()) FComponents.erase(It);
}

#include "support/Component.h"

#include <algorithm>

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) owner_->owned_.push_back(this);
}

TComponent::~TComponent() {
    while (!owned_.empty()) delete owned_.back();  // each one leaves the list itself
    if (owner_) std::erase(owner_->owned_, this);
}

#pragma once
// The base of the program's non-visual components, such as the speech component: made
// with an owner that destroys it. It needs no Qt, so that parlen-say, which loads no
// Qt library, can use the same components as the window.
#include <string>
#include <vector>

class TComponent {
  public:
    explicit TComponent(TComponent* owner = nullptr);
    // Destroys the components it owns, the newest first, and leaves its owner.
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

  private:
    TComponent* owner_;
    std::vector<TComponent*> owned_;
    std::string name_;
};

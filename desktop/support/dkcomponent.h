// Base class of the desktop support library's components.
#pragma once

#include "framework/component.h"
#include "framework/exceptions.h"

namespace om {

class TDkComponent : public TComponent {
public:
  using TComponent::TComponent;
};

}  // namespace om

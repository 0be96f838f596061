// Message boxes as Qt dialogs: modal, with only an OK button.
#pragma once

#include "ports/forms.h"

namespace orvanta {

class QtMessageBoxes : public MessageBoxes {
public:
    void show(const std::string& text, MessageIcon icon, const std::string& title) override;
};

}  // namespace orvanta

#pragma once
// What every page of the sheet shares: the button mask it sets, its header
// texts, and its answer when the user wants to cancel.
#include <QWizardPage>

class Wizard;

// The sheet's set-buttons masks. No page ever offers Back.
enum ButtonMask : int { kNoButtons = 0, kNextButton = 2, kFinishButton = 4 };

class WizardPage : public QWizardPage {
public:
    explicit WizardPage(Wizard& sheet);

    // False keeps the wizard open (the page handles the cancel itself).
    virtual bool QueryCancel() { return true; }
    bool isComplete() const override { return buttons_ != kNoButtons; }
    int Buttons() const { return buttons_; }

protected:
    void SetButtons(int mask);
    void SetHeader(int titleId, int subtitleId);
    Wizard& Sheet() const { return sheet_; }

private:
    Wizard& sheet_;
    int buttons_ = kNoButtons;
};

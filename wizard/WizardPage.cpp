#include "WizardPage.h"

#include "Texts.h"
#include "Wizard.h"

WizardPage::WizardPage(Wizard& sheet) : sheet_(sheet) {}

void WizardPage::SetButtons(int mask) {
    buttons_ = mask;
    emit completeChanged();
}

void WizardPage::SetHeader(int titleId, int subtitleId) {
    setTitle(HeaderText(titleId));
    setSubTitle(HeaderText(subtitleId));
}

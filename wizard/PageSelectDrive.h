#pragma once
// The first page: the drive (or card image) to recover from. The list is
// probed again every 500 ms and rebuilt only when it changed, so the user's
// choice survives; the last choice of the process is preselected next time.
#include <QComboBox>
#include <QStringList>
#include <QTimer>

#include "WizardPage.h"

class PageSelectDrive : public WizardPage {
public:
    explicit PageSelectDrive(Wizard& sheet);

    void initializePage() override;
    bool validatePage() override;
    int nextId() const override;

    // One probe of the drives; what the timer runs.
    void Refresh();
    QComboBox* List() const { return list_; }
    bool Probing() const { return timer_.isActive(); }

private:
    void OnActivated(int index);
    QString SelectedSource() const;

    QComboBox* list_;
    QTimer timer_;
    QStringList images_; // image files chosen in this run, listed after the drives
    int lastSource_ = -1;
};

#include "PageSelectDrive.h"

#include <QFileInfo>
#include <QVBoxLayout>
#include <string>

#include "Texts.h"
#include "Wizard.h"
#include "AAA_MessageIds.h"

namespace {

constexpr int kRefreshMs = 500;
constexpr int kSourceRole = Qt::UserRole;

// The source chosen last in this process, preselected in the next run.
std::string rememberedSource;

struct ListItem {
    QString text;
    QString source; // empty for the "Image file…" entry
};

} // namespace

PageSelectDrive::PageSelectDrive(Wizard& sheet) : WizardPage(sheet), list_(new QComboBox(this)) {
    SetHeader(AAA::Msg::DrivePageTitle, AAA::Msg::DrivePageText);
    list_->setObjectName(QStringLiteral("304"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addStretch();
    timer_.setInterval(kRefreshMs);
    connect(&timer_, &QTimer::timeout, this, [this] { Refresh(); });
    connect(list_, &QComboBox::activated, this, [this](int index) { OnActivated(index); });
    const QString remembered = QString::fromStdString(rememberedSource);
    if (QFileInfo(remembered).isFile())
        images_.append(remembered);
}

void PageSelectDrive::initializePage() {
    SetButtons(kNoButtons);
    list_->clear();
    lastSource_ = -1;
    timer_.start();
    Refresh();
}

void PageSelectDrive::Refresh() {
    std::vector<ListItem> items;
    for (const DriveItem& drive : Sheet().Services().listDrives())
        items.push_back({QString::fromStdString(drive.Text()), QString::fromStdString(drive.devicePath)});
    for (const QString& image : images_)
        items.push_back({image, image});
    items.push_back({Text(AAA::Msg::ImageFileItem), QString()});

    bool same = static_cast<int>(items.size()) == list_->count();
    for (int i = 0; same && i < list_->count(); ++i)
        same = list_->itemText(i) == items[i].text;
    if (same)
        return;

    list_->clear();
    for (const ListItem& item : items)
        list_->addItem(item.text, item.source);
    list_->setCurrentIndex(0);
    const int remembered = list_->findData(QString::fromStdString(rememberedSource), kSourceRole);
    if (!rememberedSource.empty() && remembered >= 0)
        list_->setCurrentIndex(remembered);
    lastSource_ = SelectedSource().isEmpty() ? -1 : list_->currentIndex();
    SetButtons(items.size() > 1 ? kNextButton : kNoButtons);
}

void PageSelectDrive::OnActivated(int index) {
    if (!list_->itemData(index, kSourceRole).toString().isEmpty()) {
        lastSource_ = index;
        rememberedSource = SelectedSource().toStdString();
        SetButtons(kNextButton);
        return;
    }
    const QString image = Sheet().Prompts().ChooseImage(this);
    if (image.isEmpty()) {
        list_->setCurrentIndex(lastSource_);
        return;
    }
    if (!images_.contains(image))
        images_.append(image);
    rememberedSource = image.toStdString();
    list_->clear(); // the next probe rebuilds the list and selects the image
    Refresh();
}

QString PageSelectDrive::SelectedSource() const { return list_->currentData(kSourceRole).toString(); }

bool PageSelectDrive::validatePage() {
    timer_.stop();
    const QString source = SelectedSource();
    if (source.isEmpty()) {
        timer_.start();
        return false;
    }
    rememberedSource = source.toStdString();
    const QString failure = Sheet().CreateJob(rememberedSource);
    if (failure.isEmpty())
        return true;
    Sheet().Prompts().ShowError(this, failure);
    // Keep probing: the user may now insert the right card.
    timer_.start();
    return false;
}

int PageSelectDrive::nextId() const { return kPageSelectFolder; }

#pragma once
// The burn page: the recorder, the TV norm and the burn commands. Until the burn run is
// in place it shows the recorder the set-up found (or why there is none) and the norm.

#include "ui/Page.h"

class QComboBox;
class QLabel;

namespace lumivox::ui {

class BurnPage final : public Page {
    Q_OBJECT
public:
    BurnPage(const AppContext& context, QWidget* parent);
    void OnShown() override;
    // The recorder set-up ran again: refill the drive list.
    void RecordersChanged();

    QComboBox* DriveList() const { return drives_; }

private:
    QComboBox* drives_ = nullptr;
    QLabel* recorderNote_ = nullptr;
    QLabel* norm_ = nullptr;
};

} // namespace lumivox::ui

// SPDX-License-Identifier: GPL-2.0-or-later
#include "editor/EditorDialogs.h"

#include "picture/PicReader.h"
#include "picture/PicResizer.h"
#include "picture/QtImage.h"
#include "project/AlbumTable.h"
#include "shell/Page.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <exception>

namespace lumivox::ui {

namespace {

// Album names are held in 259 bytes of UTF-8.
constexpr int kMaxNameBytes = 259;

} // namespace

AlbumNameDialog::AlbumNameDialog(const QString& name, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Album Name"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Please enter the album name:"), this));
    edit_ = new QLineEdit(name, this);
    edit_->setObjectName(QStringLiteral("albumNameEdit"));
    edit_->setMaxLength(kMaxNameBytes);
    edit_->selectAll();
    layout->addWidget(edit_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(360);
}

QString AlbumNameDialog::Name() const
{
    return edit_->text().trimmed();
}

AlbumPropertiesDialog::AlbumPropertiesDialog(const QString& name, int waitTime, const QString& propertiesText,
                                             QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Album Properties"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto* title = new QLabel(name, this);
    title->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(tr("Album:"), title);
    wait_ = new QSpinBox(this);
    wait_->setObjectName(QStringLiteral("waitTimeBox"));
    wait_->setRange(kMinAlbumWaitTime, kMaxAlbumWaitTime);
    wait_->setSuffix(tr(" s"));
    wait_->setValue(std::clamp(waitTime, kMinAlbumWaitTime, kMaxAlbumWaitTime));
    form->addRow(tr("Wait time after playing slide show:"), wait_);
    layout->addLayout(form);
    layout->addWidget(new QLabel(propertiesText, this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

int AlbumPropertiesDialog::WaitTime() const
{
    return wait_->value();
}

namespace {

// The picture area: black, the shown picture fitted and centred.
class ViewerFrame final : public QWidget {
public:
    ViewerFrame(const QImage& shown, QWidget* parent) : QWidget(parent), shown_(shown) { setMinimumSize(640, 480); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        if (shown_.isNull())
            return;
        const QSize fitted = shown_.size().scaled(size(), Qt::KeepAspectRatio);
        const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, shown_);
    }

private:
    const QImage& shown_;
};

QToolButton* ViewerButton(const QString& text, const QString& tip, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setToolTip(tip);
    button->setFixedSize(80, 26);
    return button;
}

} // namespace

PictureViewer::PictureViewer(const QString& path, int rotation, ViewerRotation rotate, QWidget* parent)
    : QDialog(parent), path_(path), angle_(IsQuarterTurn(rotation) ? rotation : 0)
{
    setWindowTitle(tr("Preview"));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(kPageBackground));
    setPalette(palette);
    auto* layout = new QHBoxLayout(this);
    frame_ = new ViewerFrame(shown_, this);
    layout->addWidget(frame_, 1);
    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(7);
    auto* close = ViewerButton(tr("OK"), tr("Close the dialog"), this);
    connect(close, &QToolButton::clicked, this, &QDialog::accept);
    buttons->addSpacing(20);
    buttons->addWidget(close);
    if (rotate == ViewerRotation::Allowed) {
        auto* clockwise = ViewerButton(QStringLiteral("↻ 90°"), tr("Rotate 90 degrees clock-wise"), this);
        auto* counter = ViewerButton(QStringLiteral("↺ 90°"), tr("Rotate 90 degrees counter clock-wise"), this);
        connect(clockwise, &QToolButton::clicked, this, &PictureViewer::RotateClockwise);
        connect(counter, &QToolButton::clicked, this, &PictureViewer::RotateCounterClockwise);
        buttons->addWidget(clockwise);
        buttons->addWidget(counter);
    }
    buttons->addStretch(1);
    layout->addLayout(buttons);
    resize(800, 540);
}

void PictureViewer::EnsureDecoded()
{
    if (decodeTried_)
        return;
    decodeTried_ = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        PicReader reader;
        reader.SetMode(DecodeMode::Full);
        reader.DecodeFile(path_.toStdString(), decoded_, 32);
        hasPicture_ = true;
    } catch (const std::exception&) {
        // The viewer stays empty.
        hasPicture_ = false;
    }
    QApplication::restoreOverrideCursor();
    Turn();
}

void PictureViewer::Turn()
{
    if (!hasPicture_) {
        shown_ = QImage();
    } else if (angle_ == 0) {
        shown_ = ToQImage(decoded_, PixelAlpha::Ignore);
    } else {
        PicBitmap turned;
        RotateBitmap(decoded_, angle_, turned);
        shown_ = ToQImage(turned, PixelAlpha::Ignore);
    }
    frame_->update();
}

void PictureViewer::RotateClockwise()
{
    angle_ = NextRotation(angle_, Rotation::Clockwise);
    if (decodeTried_)
        Turn();
}

void PictureViewer::RotateCounterClockwise()
{
    angle_ = NextRotation(angle_, Rotation::CounterClockwise);
    if (decodeTried_)
        Turn();
}

void PictureViewer::paintEvent(QPaintEvent* event)
{
    EnsureDecoded();
    QDialog::paintEvent(event);
}

} // namespace lumivox::ui

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The album editor's dialogs: "Album Name" (new and renamed albums), the album
// properties (wait time and picture count) and the picture viewer ("Preview").

#include "picture/PicBitmap.h"

#include <QDialog>
#include <QImage>
#include <QString>

class QLineEdit;
class QSpinBox;
class QToolButton;

namespace lumivox::ui {

class AlbumNameDialog final : public QDialog {
    Q_OBJECT
public:
    AlbumNameDialog(const QString& name, QWidget* parent);
    QString Name() const;

private:
    QLineEdit* edit_ = nullptr;
};

class AlbumPropertiesDialog final : public QDialog {
    Q_OBJECT
public:
    // waitTime is held within 2..120; propertiesText is "Total Photos: %d".
    AlbumPropertiesDialog(const QString& name, int waitTime, const QString& propertiesText, QWidget* parent);
    int WaitTime() const;

private:
    QSpinBox* wait_ = nullptr;
};

// What the viewer shows and whether it may turn it.
enum class ViewerRotation { Allowed, Hidden };

// Shows one picture on black, scaled to fit with its aspect ratio kept. The angle starts
// at rotation; the rotate buttons turn the shown picture, "Close the dialog" accepts
// (the caller then stores Angle()), closing the window otherwise changes nothing.
class PictureViewer final : public QDialog {
    Q_OBJECT
public:
    PictureViewer(const QString& path, int rotation, ViewerRotation rotate, QWidget* parent);
    int Angle() const { return angle_; }
    void RotateClockwise();
    void RotateCounterClockwise();
    // The picture shown (turned by the angle); null before it is decoded or when it
    // cannot be.
    const QImage& Shown() const { return shown_; }
    // Decodes the file now rather than at the first paint (tests, screenshots).
    void EnsureDecoded();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Turn();

    QString path_;
    int angle_ = 0;
    bool decodeTried_ = false;
    PicBitmap decoded_;
    bool hasPicture_ = false;
    QImage shown_;
    QWidget* frame_ = nullptr;
};

} // namespace lumivox::ui

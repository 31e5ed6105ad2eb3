// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/Page.h"
#include "shell/Resources.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

namespace lumivox::ui {

Page::Page(AppServices& services, QWidget* parent) : QWidget(parent), services_(services)
{
    EnsureResources();
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(kPageBackground));
    setPalette(palette);
}

void Page::AddHeading(QVBoxLayout* layout, const QString& title, const QString& description)
{
    auto* heading = new QLabel(title, this);
    heading->setObjectName(QStringLiteral("pageHeading"));
    QFont font = heading->font();
    font.setPointSizeF(font.pointSizeF() * 1.5);
    font.setWeight(QFont::DemiBold);
    heading->setFont(font);
    auto* text = new QLabel(description, this);
    text->setWordWrap(true);
    text->setObjectName(QStringLiteral("pageDescription"));
    text->setStyleSheet(QStringLiteral("color: #5f5a50;"));
    layout->addWidget(heading);
    layout->addWidget(text);
    layout->addSpacing(8);
}

QWidget* Page::MakeCard(QWidget* parent)
{
    auto* card = new QFrame(parent);
    card->setObjectName(QStringLiteral("card"));
    card->setStyleSheet(
        QStringLiteral("QFrame#card { background: white; border: 1px solid #e3ded2; border-radius: 10px; }"));
    return card;
}

QWidget* Page::MakeComingCard(const QString& iconResource, const QString& title, const QStringList& points)
{
    QWidget* card = MakeCard(this);
    card->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto* row = new QHBoxLayout(card);
    row->setContentsMargins(24, 20, 24, 20);
    row->setSpacing(20);
    auto* icon = new QLabel(card);
    icon->setPixmap(QIcon(iconResource).pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);
    row->addWidget(icon);
    auto* column = new QVBoxLayout;
    auto* heading = new QLabel(title, card);
    QFont font = heading->font();
    font.setWeight(QFont::DemiBold);
    font.setPointSizeF(font.pointSizeF() * 1.15);
    heading->setFont(font);
    column->addWidget(heading);
    QString list = QStringLiteral("<ul style='margin-top:0px; margin-left:-20px'>");
    for (const QString& point : points)
        list += QStringLiteral("<li style='margin-bottom:4px'>%1</li>").arg(point.toHtmlEscaped());
    list += QStringLiteral("</ul>");
    auto* body = new QLabel(list, card);
    body->setTextFormat(Qt::RichText);
    body->setWordWrap(true);
    body->setStyleSheet(QStringLiteral("color: #3d3a33;"));
    column->addWidget(body);
    column->addStretch();
    row->addLayout(column, 1);
    return card;
}

} // namespace lumivox::ui

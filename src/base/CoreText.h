// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The program's fixed English texts are marked with QT_TRANSLATE_NOOP("lumivox::core", ...)
// where they are defined, so that the translators' extraction tool (lupdate) finds them
// all under one context, the core's among them, while the core stays free of Qt. The
// desktop program looks each one up (TranslateCoreText) where it shows it. The macro is
// Qt's own definition: it leaves the text as it is.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, x) x
#endif

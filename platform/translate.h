#pragma once

// Marks a text the user sees, for the translators: lupdate finds it by this
// name. It stays the English text here; the backend translates it when it
// shows it, so the logic and its tests read the same texts in every locale.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(scope, text) text
#endif

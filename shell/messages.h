#pragma once
// The updater's own texts and the message boxes that show them. Every box has no owner window and
// the window title as its caption; the texts are code page 932 bytes for the ANSI calls, most of
// them filled out with ideographic spaces (U+3000) to 26 characters (52 bytes).

// "ゲーム、ランチャー、アンインストーラーのいずれかが実行中なのでアップデートを行えません"
extern const char engineRunningText[];
// "ゲームがインストールされていません" and nine U+3000
extern const char notInstalledText[];
// "ダイアログの起動に失敗しました。" and ten U+3000
extern const char dialogFailedText[];
// "アップデートが完了しました" and thirteen U+3000
extern const char completedText[];
// "アップデートプログラムが破損している可能性があります"
extern const char damagedText[];
// "何らかの要因によりアップデートが行えません" and five U+3000
extern const char writeFailedText[];
// "アンインストレーションファイルの更新に失敗しました" and one U+3000
extern const char uninstallListFailedText[];

// An information box (MB_ICONINFORMATION) or a warning box (MB_ICONEXCLAMATION) with the single OK
// button. What the box returns is of no interest.
void showInformation(const char* text);
void showWarning(const char* text);

// Asks "アップデートを行いますか？" with Yes and No, "No" being the default button. True only when the
// answer is Yes; a box that could not be shown counts as No.
bool askConsent();

"""The texts setup.exe shows, written here as Unicode with their padding and turned into code page 932
bytes by Python's own codec, so that the expected bytes do not come from the code under test.

Most texts are filled out at the end with ideographic spaces (U+3000) to 26 characters, 52 bytes."""

TITLE = "「Vennholt」 更新パッチ ver 1.01"

# name: (text, number of trailing U+3000)
MESSAGES = {
    "engine running": ("ゲーム、ランチャー、アンインストーラーのいずれかが実行中なのでアップデートを行えません", 0),
    "not installed": ("ゲームがインストールされていません", 9),
    "consent": ("アップデートを行いますか？", 13),
    "dialog failed": ("ダイアログの起動に失敗しました。", 10),
    "completed": ("アップデートが完了しました", 13),
    "damaged": ("アップデートプログラムが破損している可能性があります", 0),
    "write failed": ("何らかの要因によりアップデートが行えません", 5),
    "uninstall list failed": ("アンインストレーションファイルの更新に失敗しました", 1),
    "abort": ("アップデートを中止しますか？", 12),
}
# Messages whose padding makes them exactly 26 characters.
PADDED_TO_26 = {name for name, (text, spaces) in MESSAGES.items() if spaces > 0} | {"damaged"}

LABEL_SUFFIX = "をインストール中"


def title_bytes():
    return TITLE.encode("cp932")


def message_bytes(name):
    text, spaces = MESSAGES[name]
    return (text + "\u3000" * spaces).encode("cp932")


def label_bytes(target_name):
    return (target_name + LABEL_SUFFIX).encode("cp932")

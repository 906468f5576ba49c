<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja">
<context>
    <name>OperatorDialogs</name>
    <message>
        <source>Recipes (*.ini)</source>
        <translation>レシピ (*.ini)</translation>
    </message>
    <message>
        <source>All files (*)</source>
        <translation>すべてのファイル (*)</translation>
    </message>
</context>
<context>
    <name>StationSetup</name>
    <message>
        <source>NOT APPROVED (the recipe approves %1)</source>
        <translation>未承認（レシピの承認値 %1）</translation>
    </message>
    <message>
        <source>approved</source>
        <translation>承認済み</translation>
    </message>
    <message>
        <source>The image %1 has SHA-256 %2; the recipe approves %3. Nothing is sent.</source>
        <translation>イメージ %1 の SHA-256 は %2 ですが、レシピが承認しているのは %3 です。書込みは行いません。</translation>
    </message>
    <message>
        <source>The kernel file %1 has SHA-256 %2; the recipe approves %3. Nothing is sent.</source>
        <translation>カーネルファイル %1 の SHA-256 は %2 ですが、レシピが承認しているのは %3 です。書込みは行いません。</translation>
    </message>
    <message>
        <source>The kernel file %1 is missing, unreadable or empty.</source>
        <translation>カーネルファイル %1 が見つからないか、読めないか、空です。</translation>
    </message>
    <message>
        <source>Nothing arrived from %1, so reading it was stopped.</source>
        <translation>%1 からデータが届かないため、読込みを中止しました。</translation>
    </message>
    <message>
        <source>none</source>
        <translation>なし</translation>
    </message>
    <message>
        <source>at 0x%1: %2</source>
        <translation>アドレス 0x%1: %2</translation>
    </message>
    <message>
        <source>yes: a file with warnings is refused</source>
        <translation>あり: 警告のあるファイルは書き込みません</translation>
    </message>
    <message>
        <source>no: a file with warnings is written</source>
        <translation>なし: 警告のあるファイルも書き込みます</translation>
    </message>
    <message>
        <source>%1: not ready</source>
        <translation>%1: 準備未完了</translation>
    </message>
    <message>
        <source>The %1 file %2 has warnings, and the recipe is strict: it is not written. Its warnings: %3</source>
        <translation>%1 ファイル %2 に警告があり、レシピが厳格チェックのため書き込みません。警告: %3</translation>
    </message>
    <message>
        <source>No serial values: %1. Nothing is sent.</source>
        <translation>シリアル番号を割り当てられません: %1。書込みは行いません。</translation>
    </message>
</context>
<context>
    <name>morven::Form1</name>
    <message>
        <source>Nothing arrived from %1 for %2 seconds, so reading it was stopped. Nothing was sent.</source>
        <translation>%1 から %2 秒間データが届かないため、読込みを中止しました。何も送信していません。</translation>
    </message>
</context>
<context>
    <name>morven::Form2</name>
    <message>
        <source>present</source>
        <translation>接続あり</translation>
    </message>
    <message>
        <source>absent</source>
        <translation>未接続</translation>
    </message>
    <message>
        <source>a serial port on another machine, written there (ssh)</source>
        <translation>別のマシンのシリアルポート、そのマシンで書込み (ssh)</translation>
    </message>
    <message>
        <source>a serial port on another machine (RFC 2217)</source>
        <translation>別のマシンのシリアルポート (RFC 2217)</translation>
    </message>
    <message>
        <source>serial %1</source>
        <translation>製造番号 %1</translation>
    </message>
</context>
<context>
    <name>morven::PortTile</name>
    <message>
        <source>ABSENT</source>
        <translation>未接続</translation>
    </message>
    <message>
        <source>absent</source>
        <translation>未接続</translation>
    </message>
    <message>
        <source>READY</source>
        <translation>準備完了</translation>
    </message>
    <message>
        <source>ready</source>
        <translation>準備完了</translation>
    </message>
    <message>
        <source>WRITING</source>
        <translation>書込み中</translation>
    </message>
    <message>
        <source>writing</source>
        <translation>書込み中</translation>
    </message>
    <message>
        <source>O.K.</source>
        <extracomment>The tile&apos;s word for a board that passed; the outcome&apos;s own text stays in the last writes</extracomment>
        <translation>合格</translation>
    </message>
    <message>
        <source>FAILED</source>
        <translation>不合格</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>不合格</translation>
    </message>
    <message>
        <source>INTERRUPTED</source>
        <translation>中断</translation>
    </message>
    <message>
        <source>interrupted</source>
        <translation>中断</translation>
    </message>
    <message>
        <source>device %1</source>
        <translation>デバイス %1</translation>
    </message>
    <message>
        <source>adapter %1</source>
        <translation>アダプタ %1</translation>
    </message>
    <message>
        <source>value %1</source>
        <translation>シリアル番号 %1</translation>
    </message>
    <message>
        <source>opening the port</source>
        <translation>ポートを開いています</translation>
    </message>
    <message>
        <source>value not used: %1</source>
        <translation>欠番 %1</translation>
    </message>
    <message>
        <source>written in %1 s</source>
        <translation>%1 秒で書込み完了</translation>
    </message>
    <message>
        <source>kernel %p %</source>
        <translation>カーネル %p %</translation>
    </message>
    <message>
        <source>image %p %</source>
        <translation>イメージ %p %</translation>
    </message>
    <message>
        <source>writing the kernel</source>
        <translation>カーネルを転送中</translation>
    </message>
    <message>
        <source>writing the image</source>
        <translation>イメージを書込み中</translation>
    </message>
    <message>
        <source>Port %1: %2</source>
        <translation>ポート %1: %2</translation>
    </message>
    <message>
        <source>outcome: %1</source>
        <translation>結果: %1</translation>
    </message>
    <message>
        <source>why: %1</source>
        <translation>理由: %1</translation>
    </message>
</context>
<context>
    <name>morven::RecentWrites</name>
    <message>
        <source>Last writes</source>
        <translation>最近の書込み</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>時刻</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>ポート</translation>
    </message>
    <message>
        <source>Value</source>
        <translation>シリアル番号</translation>
    </message>
    <message>
        <source>Outcome</source>
        <translation>結果</translation>
    </message>
    <message>
        <source>Passed %1    Failed %2    Yield %3</source>
        <translation>合格 %1    不合格 %2    歩留まり %3</translation>
    </message>
    <message>
        <source>    Interrupted %1</source>
        <translation>    中断 %1</translation>
    </message>
    <message>
        <source>Totals: %1</source>
        <translation>集計: %1</translation>
    </message>
</context>
<context>
    <name>morven::StationWindow</name>
    <message>
        <source>MORVEN station</source>
        <translation>MORVEN 書込みステーション</translation>
    </message>
    <message>
        <source>Recipe:</source>
        <translation>レシピ:</translation>
    </message>
    <message>
        <source>Image:</source>
        <translation>イメージ:</translation>
    </message>
    <message>
        <source>Kernel:</source>
        <translation>カーネル:</translation>
    </message>
    <message>
        <source>Strict:</source>
        <translation>厳格チェック:</translation>
    </message>
    <message>
        <source>Serial numbers:</source>
        <translation>シリアル番号:</translation>
    </message>
    <message>
        <source>Not ready</source>
        <translation>準備未完了</translation>
    </message>
    <message>
        <source>Start (Enter)</source>
        <translation>開始 (Enter)</translation>
    </message>
    <message>
        <source>Writes every present board; Enter or F5</source>
        <translation>接続されているすべての基板に書き込みます。Enter または F5</translation>
    </message>
    <message>
        <source>Stop (Esc)</source>
        <translation>停止 (Esc)</translation>
    </message>
    <message>
        <source>Interrupts every write, after a confirmation</source>
        <translation>確認のうえ、すべての書込みを中断します</translation>
    </message>
    <message>
        <source>MORVEN station — %1</source>
        <translation>MORVEN 書込みステーション — %1</translation>
    </message>
    <message>
        <source>Warning: %1</source>
        <translation>警告: %1</translation>
    </message>
    <message>
        <source>NOT READY: %1</source>
        <translation>準備未完了: %1</translation>
    </message>
    <message>
        <source>Another run held the serial values for 10 seconds. Nothing was sent; start again.</source>
        <translation>別の書込みがシリアル番号を 10 秒間使用していました。何も送信していません。もう一度開始してください。</translation>
    </message>
    <message>
        <source>Stop every write? Each board is recorded as interrupted and must be written again.</source>
        <translation>すべての書込みを停止しますか？ 各基板は中断として記録され、書き直しが必要です。</translation>
    </message>
    <message>
        <source>&amp;Stop every write</source>
        <translation>すべて停止(&amp;S)</translation>
    </message>
    <message>
        <source>&amp;Go on writing</source>
        <translation>書込みを続ける(&amp;G)</translation>
    </message>
    <message>
        <source>Boards are being written. Close the window and interrupt every write? Each is recorded as interrupted.</source>
        <translation>基板を書込み中です。ウィンドウを閉じて、すべての書込みを中断しますか？ 各基板は中断として記録されます。</translation>
    </message>
    <message>
        <source>&amp;Close and interrupt</source>
        <translation>閉じて中断(&amp;C)</translation>
    </message>
    <message>
        <source>&amp;Keep writing</source>
        <translation>書込みを続ける(&amp;K)</translation>
    </message>
    <message>
        <source>Check again (F5)</source>
        <translation>再チェック (F5)</translation>
    </message>
    <message>
        <source>Examines the station again: the files, the ports and the serial numbers</source>
        <translation>ステーションをもう一度チェックします: ファイル、ポート、シリアル番号</translation>
    </message>
    <message>
        <source>Signed by:</source>
        <translation>署名者:</translation>
    </message>
</context>
</TS>

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja">
<context>
    <name>pellux::ArrivalLog</name>
    <message>
        <source>Cannot log to &quot;%1&quot;: %2</source>
        <translation>&quot;%1&quot; に記録できません: %2</translation>
    </message>
</context>
<context>
    <name>pellux::frmPeerA</name>
    <message>
        <source>%1 datagram lost before it could be read</source>
        <translation>読み取る前に %1 個のデータグラムが失われました</translation>
    </message>
    <message>
        <source>%1 datagrams lost before they could be read</source>
        <translation>読み取る前に %1 個のデータグラムが失われました</translation>
    </message>
    <message>
        <source>Log to file…</source>
        <translation>ファイルに記録…</translation>
    </message>
    <message>
        <source>Show arrival times</source>
        <translation>受信時刻を表示</translation>
    </message>
    <message>
        <source>Log to file</source>
        <translation>ファイルに記録</translation>
    </message>
    <message>
        <source>The board address &quot;%1&quot; cannot be used: %2.</source>
        <translation>基板のアドレス &quot;%1&quot; は使えません: %2。</translation>
    </message>
    <message>
        <source>Cannot bind UDP port %1: %2</source>
        <translation>UDP ポート %1 をバインドできません: %2</translation>
    </message>
    <message>
        <source>1 datagram not shown: too many at once</source>
        <translation>1 個のデータグラムを表示していません: 一度に届いた数が多すぎます</translation>
    </message>
    <message>
        <source>%1 datagrams not shown: too many at once</source>
        <translation>%1 個のデータグラムを表示していません: 一度に届いた数が多すぎます</translation>
    </message>
    <message>
        <source>The receive buffer holds %1 KiB; net.core.rmem_max limits it.</source>
        <translation>受信バッファは %1 KiB です。上限は net.core.rmem_max で決まります。</translation>
    </message>
    <message>
        <source>%1 datagram not logged: the log fell behind</source>
        <translation>%1 個のデータグラムを記録できませんでした: ログの書込みが間に合いませんでした</translation>
    </message>
    <message>
        <source>%1 datagrams not logged: the log fell behind</source>
        <translation>%1 個のデータグラムを記録できませんでした: ログの書込みが間に合いませんでした</translation>
    </message>
</context>
</TS>

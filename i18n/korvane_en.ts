<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ja_JP">
<context>
    <name>Certificate</name>
    <message>
        <source>%1 m ± %2 mm（測量の許容差）</source>
        <translation>%1 m ± %2 mm (survey tolerance)</translation>
    </message>
    <message>
        <source>順方向（ループ1→2）</source>
        <translation>Forward (loop 1→2)</translation>
    </message>
    <message>
        <source>逆方向（ループ2→1）</source>
        <translation>Reverse (loop 2→1)</translation>
    </message>
    <message>
        <source>不明</source>
        <translation>Unknown</translation>
    </message>
    <message>
        <source>（ばらつき %1 ms）</source>
        <translation> (spread %1 ms)</translation>
    </message>
    <message>
        <source>承認</source>
        <translation>Accepted</translation>
    </message>
    <message>
        <source>却下</source>
        <translation>Rejected</translation>
    </message>
    <message>
        <source>区間長の訂正</source>
        <translation>Section length corrected</translation>
    </message>
    <message>
        <source>正常</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>要確認</source>
        <translation>To check</translation>
    </message>
    <message>
        <source>計測ではない</source>
        <translation>Not a measurement</translation>
    </message>
    <message>
        <source>速度記録証明書</source>
        <translation>Speed Record Certificate</translation>
    </message>
    <message>
        <source>ドライバー</source>
        <translation>Driver</translation>
    </message>
    <message>
        <source>クラス</source>
        <translation>Class</translation>
    </message>
    <message>
        <source>トランスポンダー</source>
        <translation>Transponder</translation>
    </message>
    <message>
        <source>計測所</source>
        <translation>Station</translation>
    </message>
    <message>
        <source>日時</source>
        <translation>Date and time</translation>
    </message>
    <message>
        <source>計測区間</source>
        <translation>Section</translation>
    </message>
    <message>
        <source>走行</source>
        <translation>Runs</translation>
    </message>
    <message>
        <source>方向</source>
        <translation>Direction</translation>
    </message>
    <message>
        <source>ループ1の時刻</source>
        <translation>Loop 1 time</translation>
    </message>
    <message>
        <source>ループ2の時刻</source>
        <translation>Loop 2 time</translation>
    </message>
    <message>
        <source>速度 ± U (k=2)</source>
        <translation>Speed ± U (k=2)</translation>
    </message>
    <message>
        <source>時計のずれ</source>
        <translation>Clock offset</translation>
    </message>
    <message>
        <source>2回の走行の平均</source>
        <translation>Mean of the two runs</translation>
    </message>
    <message>
        <source>± %1 km/h（%2 %）拡張不確かさ k=2</source>
        <translation>± %1 km/h (%2 %) expanded uncertainty, k=2</translation>
    </message>
    <message>
        <source>比べる記録はありません</source>
        <translation>No stored record to compare with</translation>
    </message>
    <message>
        <source>記録 %1 km/h に %2 % を加えた %3 km/h を超えること：%4</source>
        <translation>Must exceed the record %1 km/h plus %2 %, %3 km/h: %4</translation>
    </message>
    <message>
        <source>達成</source>
        <translation>achieved</translation>
    </message>
    <message>
        <source>未達成</source>
        <translation>not achieved</translation>
    </message>
    <message>
        <source>確認の操作</source>
        <translation>Review actions</translation>
    </message>
    <message>
        <source>ほか %1 件</source>
        <translation>and %1 more</translation>
    </message>
    <message>
        <source>理由：%1</source>
        <translation>Reason: %1</translation>
    </message>
    <message>
        <source>証拠</source>
        <translation>Evidence</translation>
    </message>
    <message>
        <source>局の鍵の指紋：%1</source>
        <translation>Station key fingerprint: %1</translation>
    </message>
    <message>
        <source>走行%1 チェーン行 %2：%3</source>
        <translation>Run %1, chain row %2: %3</translation>
    </message>
    <message>
        <source>QRコードの内容を局の証拠の束と照らし合わせて確認できます：
korvane-verify --claim &quot;QRコードの内容&quot; 証拠の束</source>
        <translation>Check the QR code&apos;s content against the station&apos;s evidence bundle:
korvane-verify --claim &quot;QR CODE CONTENT&quot; BUNDLE</translation>
    </message>
    <message>
        <source>計測票</source>
        <translation>Time Slip</translation>
    </message>
    <message>
        <source>計測番号</source>
        <translation>Attempt</translation>
    </message>
    <message>
        <source>状態</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>± %1 km/h（%2 %）k=2</source>
        <translation>± %1 km/h (%2 %) k=2</translation>
    </message>
    <message>
        <source>チェーン行 %1：%2</source>
        <translation>Chain row %1: %2</translation>
    </message>
    <message>
        <source>ループ1→2</source>
        <translation>Loop 1→2</translation>
    </message>
    <message>
        <source>ループ2→1</source>
        <translation>Loop 2→1</translation>
    </message>
</context>
<context>
    <name>ClassesRoom</name>
    <message>
        <source>エントリーの読込</source>
        <translation>Import entries</translation>
    </message>
    <message>
        <source>エントリー</source>
        <translation>Entries</translation>
    </message>
    <message>
        <source>クラス</source>
        <translation>Class</translation>
    </message>
    <message>
        <source>追加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>名前変更</source>
        <translation>Rename</translation>
    </message>
    <message>
        <source>削除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>↑</source>
        <translation>↑</translation>
    </message>
    <message>
        <source>↓</source>
        <translation>↓</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>名前</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>番号</source>
        <translation>Number</translation>
    </message>
    <message>
        <source>現在</source>
        <translation>Current</translation>
    </message>
    <message>
        <source>更新</source>
        <translation>Update</translation>
    </message>
    <message>
        <source>このクラスで走る</source>
        <translation>Runs in this class</translation>
    </message>
    <message>
        <source>CSV読込…</source>
        <translation>Import CSV…</translation>
    </message>
    <message>
        <source>CSV書出…</source>
        <translation>Export CSV…</translation>
    </message>
    <message>
        <source>パスワード</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>●</source>
        <translation>●</translation>
    </message>
    <message>
        <source>クラスの削除</source>
        <translation>Delete class</translation>
    </message>
    <message>
        <source>クラス「%1」と、そのエントリー %2 件を削除しますか？</source>
        <translation>Delete class “%1” and its %2 entries?</translation>
    </message>
    <message>
        <source>先にクラスを選んでください。</source>
        <translation>Select a class first.</translation>
    </message>
    <message>
        <source>クラス変更 %1 → %2</source>
        <translation>Class change %1 → %2</translation>
    </message>
    <message>
        <source>%1 を読めません: %2</source>
        <translation>Cannot read %1: %2</translation>
    </message>
    <message>
        <source>エントリー読込 %1 件</source>
        <translation>Entries imported: %1</translation>
    </message>
    <message>
        <source>文字コード %1。読み込む行 %2、問題のある行 %3（読み込みません）</source>
        <translation>Encoding %1. Lines to import: %2; lines with a problem: %3 (left out)</translation>
    </message>
    <message>
        <source>このファイルは読み込めません。</source>
        <translation>This file cannot be imported.</translation>
    </message>
    <message>
        <source>行</source>
        <translation>Line</translation>
    </message>
    <message>
        <source>問題</source>
        <translation>Problem</translation>
    </message>
    <message>
        <source>%1 件を読み込む</source>
        <translation>Import %1</translation>
    </message>
    <message>
        <source>%1 に書き込めません: %2</source>
        <translation>Cannot write to %1: %2</translation>
    </message>
    <message>
        <source>全期間</source>
        <translation>All time</translation>
    </message>
    <message>
        <source>今日</source>
        <translation>Today</translation>
    </message>
    <message>
        <source>指定時刻から</source>
        <translation>Since</translation>
    </message>
    <message>
        <source>CSV出力</source>
        <translation>Export CSV</translation>
    </message>
    <message>
        <source>順位</source>
        <translation>Rank</translation>
    </message>
    <message>
        <source>スピード</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>クラス別</source>
        <translation>By class</translation>
    </message>
    <message>
        <source>すべて</source>
        <translation>All</translation>
    </message>
    <message>
        <source>%1 台</source>
        <translation>%1 cars</translation>
    </message>
    <message>
        <source>クラス名を入力してください。</source>
        <translation>Enter a class name.</translation>
    </message>
    <message>
        <source>クラス「%1」はすでにあります。</source>
        <translation>Class “%1” exists already.</translation>
    </message>
    <message>
        <source>IDを入力してください。</source>
        <translation>Enter an ID.</translation>
    </message>
    <message>
        <source>ID %1 はこのクラスにすでにエントリーしています。</source>
        <translation>ID %1 is entered in this class already.</translation>
    </message>
    <message>
        <source>このクラスには計測が %1 件あります。計測のあるクラスは削除できません。</source>
        <translation>This class has %1 attempts. A class with attempts cannot be deleted.</translation>
    </message>
    <message>
        <source>文字コードが読めません（%1 ではありません）</source>
        <translation>Unreadable characters (not %1)</translation>
    </message>
    <message>
        <source>%1 行目: 不明な列 %2</source>
        <translation>Line %1: unknown column %2</translation>
    </message>
    <message>
        <source>%1 行目: クラスとIDの列が必要です</source>
        <translation>Line %1: the class and ID columns are needed</translation>
    </message>
    <message>
        <source>引用符が閉じていません</source>
        <translation>A quote is not closed</translation>
    </message>
    <message>
        <source>不明な列があります（%1 列、%2 列まで）</source>
        <translation>Unknown column (%1 columns, at most %2)</translation>
    </message>
    <message>
        <source>クラスが空です</source>
        <translation>No class</translation>
    </message>
    <message>
        <source>IDが空です</source>
        <translation>No ID</translation>
    </message>
    <message>
        <source>ID %1 はクラス %2 にすでにエントリーしています</source>
        <translation>ID %1 is entered in class %2 already</translation>
    </message>
    <message>
        <source>ID %1 はクラス %2 に重複しています（%3 行目）</source>
        <translation>ID %1 twice in class %2 (line %3)</translation>
    </message>
    <message>
        <source>式のような名前です。そのまま登録し、書き出しでは先頭に &apos; を付けます</source>
        <translation>Looks like a formula: stored as typed, exported with a &apos; before it</translation>
    </message>
</context>
<context>
    <name>DeviceAccess</name>
    <message>
        <source>このデバイスを読み書きできるグループがありません。管理者にデバイスの権限の設定を依頼してください。</source>
        <translation>No group may read and write this device. Ask the administrator to set the device&apos;s permissions.</translation>
    </message>
    <message>
        <source>このデバイスはグループ %1 のメンバーが使えます。次のコマンドでユーザーをグループに加え、ログインし直してください（加えてあればログインし直すだけで使えます）:
sudo usermod -aG %1 $USER</source>
        <translation>Members of the group %1 may use this device. Add your user to the group with the command below, then log out and in again (if you were added already, just log in again):
sudo usermod -aG %1 $USER</translation>
    </message>
</context>
<context>
    <name>DevicePicker</name>
    <message>
        <source>シリアルデバイスが見つかりません</source>
        <translation>No serial devices found</translation>
    </message>
</context>
<context>
    <name>EventServer</name>
    <message>
        <source>サーバーの表は新しい版 (%1) です。このプログラムは版 %2 まで</source>
        <translation>The server&apos;s tables are of a newer version (%1); this program knows up to version %2</translation>
    </message>
</context>
<context>
    <name>EventSettings</name>
    <message>
        <source>Database は host=… dbname=… user=… の形で書いてください</source>
        <translation>Write Database as host=… dbname=… user=…</translation>
    </message>
    <message>
        <source>Database にパスワードは書けません（~/.pgpass か PGPASSWORD に）</source>
        <translation>Database cannot hold a password (put it in ~/.pgpass or PGPASSWORD)</translation>
    </message>
    <message>
        <source>Database に ; は使えません</source>
        <translation>Database cannot contain ;</translation>
    </message>
    <message>
        <source>[Event] の Station と Event を設定してください</source>
        <translation>Set Station and Event in [Event]</translation>
    </message>
</context>
<context>
    <name>EvidenceRoom</name>
    <message>
        <source>証拠: 署名できません（%1）。計測は続けます。</source>
        <translation>Evidence: cannot sign (%1). Measuring goes on.</translation>
    </message>
    <message>
        <source>証拠の鍵の指紋: %1</source>
        <translation>Evidence key fingerprint: %1</translation>
    </message>
    <message>
        <source>korvane-verify --fingerprint で同じ指紋が出ます。公開鍵 %1 は局の外にも保管してください。</source>
        <translation>korvane-verify --fingerprint prints the same fingerprint. Keep the public key %1 away from the station as well.</translation>
    </message>
    <message>
        <source>証拠の鍵を作りました（指紋 %1）</source>
        <translation>Evidence key made (fingerprint %1)</translation>
    </message>
    <message>
        <source>証拠: 署名を保存できません（%1）</source>
        <translation>Evidence: cannot store the signature (%1)</translation>
    </message>
    <message>
        <source>&#x3000;署名済み: %1 行まで</source>
        <translation> Signed up to row %1.</translation>
    </message>
    <message>
        <source>QR コードは最後に署名した先頭です。korvane-verify --head で照合できます。</source>
        <translation>The QR code is the last signed head; korvane-verify --head checks it.</translation>
    </message>
</context>
<context>
    <name>HistoryModel</name>
    <message>
        <source>正常</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>要確認</source>
        <translation>Check</translation>
    </message>
    <message>
        <source>承認</source>
        <translation>Accepted</translation>
    </message>
    <message>
        <source>却下</source>
        <translation>Rejected</translation>
    </message>
    <message>
        <source>訂正前: %1 Km/h、%2 cm</source>
        <translation>Before correction: %1 Km/h, %2 cm</translation>
    </message>
    <message>
        <source>・訂正</source>
        <translation> (corrected)</translation>
    </message>
    <message>
        <source>時刻</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>名前</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>スピード</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>区間</source>
        <translation>cm</translation>
    </message>
    <message>
        <source>判定</source>
        <translation>Flags</translation>
    </message>
    <message>
        <source>状態</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>日時</source>
        <translation>Date and time</translation>
    </message>
    <message>
        <source>ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID</source>
        <translation>Transponder ID</translation>
    </message>
    <message>
        <source>区間長(cm)</source>
        <translation>Section length (cm)</translation>
    </message>
    <message>
        <source>訂正前のスピード</source>
        <translation>Speed before correction</translation>
    </message>
    <message>
        <source>訂正前の区間長(cm)</source>
        <translation>Section length before correction (cm)</translation>
    </message>
    <message>
        <source>%1 に書き込めません: %2</source>
        <translation>Cannot write %1: %2</translation>
    </message>
    <message>
        <source>・</source>
        <translation>, </translation>
    </message>
    <message>
        <source>低速</source>
        <translation>too slow</translation>
    </message>
    <message>
        <source>高速</source>
        <translation>too fast</translation>
    </message>
    <message>
        <source>ループ1なし</source>
        <translation>no loop 1</translation>
    </message>
    <message>
        <source>二重読み</source>
        <translation>double read</translation>
    </message>
    <message>
        <source>区間超過</source>
        <translation>long section</translation>
    </message>
    <message>
        <source>計測不能</source>
        <translation>Not a measurement</translation>
    </message>
    <message>
        <source>時計設定</source>
        <translation>clock set</translation>
    </message>
    <message>
        <source>区間時間なし</source>
        <translation>no section time</translation>
    </message>
    <message>
        <source>計測ではありません（計算上の値 %1 Km/h）</source>
        <translation>Not a measurement (the times give %1 Km/h)</translation>
    </message>
    <message>
        <source>クラス</source>
        <translation>Class</translation>
    </message>
    <message>
        <source>訂正の理由: %1</source>
        <translation>Reason for the correction: %1</translation>
    </message>
    <message>
        <source>拡張不確かさ (k=2): ±%1 Km/h（%2 %）</source>
        <translation>Expanded uncertainty (k=2): ±%1 km/h (%2 %)</translation>
    </message>
    <message>
        <source>逆方向の走行（ループ2からループ1）</source>
        <translation>Reverse run (loop 2 to loop 1)</translation>
    </message>
    <message>
        <source>±</source>
        <translation>±</translation>
    </message>
</context>
<context>
    <name>Korvane</name>
    <message>
        <source>キャプチャファイルを開けません: %1</source>
        <translation>Cannot open the capture file: %1</translation>
    </message>
</context>
<context>
    <name>LiveServer</name>
    <message>
        <source>%1 は使用中です</source>
        <translation>%1 is in use</translation>
    </message>
</context>
<context>
    <name>Names</name>
    <message>
        <source>文字コード Shift_JIS が使用できないため、名前を登録できません。</source>
        <translation>Names cannot be registered: the Shift_JIS character set is not available.</translation>
    </message>
    <message>
        <source>名前に使用できない文字「%1」(U+%2) が含まれています。</source>
        <translation>The name contains a character that cannot be used: &quot;%1&quot; (U+%2).</translation>
    </message>
    <message>
        <source>名前が長すぎます（%1バイト）。半角%2文字（全角%3文字）以内で入力してください。</source>
        <translation>The name is too long (%1 bytes). Use at most %2 single-width or %3 double-width characters.</translation>
    </message>
</context>
<context>
    <name>PasswordStore</name>
    <message>
        <source>&apos;%1&apos; のデータ型が不正です</source>
        <translation>&apos;%1&apos; has the wrong data type</translation>
    </message>
    <message>
        <source>&apos;%1&apos; を読み込めません: %2</source>
        <translation>Cannot read &apos;%1&apos;: %2</translation>
    </message>
    <message>
        <source>&apos;%1&apos; の設定に失敗しました</source>
        <translation>Could not set &apos;%1&apos;</translation>
    </message>
</context>
<context>
    <name>Publisher</name>
    <message>
        <source>ステーション名 %1 はイベント %2 で別の PC が使っています</source>
        <translation>Station name %1 is used by another PC in event %2</translation>
    </message>
    <message>
        <source>パスワードが違います（~/.pgpass か PGPASSWORD）: </source>
        <translation>wrong password (~/.pgpass or PGPASSWORD): </translation>
    </message>
    <message>
        <source>サーバーが見つかりません: </source>
        <translation>server not found: </translation>
    </message>
    <message>
        <source>サーバーに接続できません: </source>
        <translation>Cannot connect to the server: </translation>
    </message>
    <message>
        <source>サーバーに接続中です</source>
        <translation>Connecting to the server</translation>
    </message>
    <message>
        <source>送信できません: </source>
        <translation>Cannot send: </translation>
    </message>
    <message>
        <source>PostgreSQL のドライバ (QPSQL) がありません（パッケージ libqt6sql6-psql）</source>
        <translation>The PostgreSQL driver (QPSQL) is missing (package libqt6sql6-psql)</translation>
    </message>
    <message>
        <source>サーバーの表を用意できません: </source>
        <translation>Cannot set up the server&apos;s tables: </translation>
    </message>
    <message>
        <source>サーバーが応答しません: </source>
        <translation>server does not answer: </translation>
    </message>
    <message>
        <source>サーバーが %1 秒応答しません</source>
        <translation>The server has not answered for %1 s</translation>
    </message>
    <message>
        <source>送信待ちの表の設定に失敗しました: </source>
        <translation>Could not set up the outbox: </translation>
    </message>
    <message>
        <source>送信済みの行を送信待ちから消せません（送り直します）: </source>
        <translation>Cannot remove sent rows from the outbox (they are sent again): </translation>
    </message>
    <message>
        <source>送信待ちの件数を読めません: </source>
        <translation>Cannot count the rows waiting: </translation>
    </message>
    <message>
        <source>サーバーとの接続が切れました</source>
        <translation>The connection to the server was lost</translation>
    </message>
</context>
<context>
    <name>RankingModel</name>
    <message>
        <source>ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID</source>
        <translation>Transp. ID</translation>
    </message>
    <message>
        <source>名前</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>スピード</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>%1 に書き込めません: %2</source>
        <translation>Cannot write %1: %2</translation>
    </message>
</context>
<context>
    <name>RecordRoom</name>
    <message>
        <source>記録</source>
        <translation>Records</translation>
    </message>
    <message>
        <source>状態</source>
        <translation>State</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>走行1</source>
        <translation>Run 1</translation>
    </message>
    <message>
        <source>走行2</source>
        <translation>Run 2</translation>
    </message>
    <message>
        <source>平均 Km/h</source>
        <translation>Mean km/h</translation>
    </message>
    <message>
        <source>±</source>
        <translation>±</translation>
    </message>
    <message>
        <source>開始</source>
        <translation>Opened</translation>
    </message>
    <message>
        <source>残り</source>
        <translation>Left</translation>
    </message>
    <message>
        <source>理由</source>
        <translation>Reason</translation>
    </message>
    <message>
        <source>証明書</source>
        <translation>Certificate</translation>
    </message>
    <message>
        <source>逆方向 %1 %2 Km/h</source>
        <translation>Reverse %1 %2 km/h</translation>
    </message>
    <message>
        <source>帰りの走行 %1 は計測になっていません</source>
        <translation>Return run %1 is not a measurement</translation>
    </message>
    <message>
        <source>走行 %1 は最初の走行から %2 分後: 窓は %3 分です。%1 から数え直します</source>
        <translation>Run %1 came %2 min after the first run: the window is %3 min. Counting again from %1</translation>
    </message>
    <message>
        <source>走行 %1 は同じ方向です。%1 から数え直します</source>
        <translation>Run %1 is in the same direction. Counting again from %1</translation>
    </message>
    <message>
        <source>最初の走行 %1 が数えられなくなりました</source>
        <translation>First run %1 no longer counts</translation>
    </message>
    <message>
        <source>走行 %1 が却下されたため、再び開いています</source>
        <translation>Open again: run %1 was rejected</translation>
    </message>
    <message>
        <source>完了</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>無効</source>
        <translation>Void</translation>
    </message>
    <message>
        <source>待機中</source>
        <translation>Waiting</translation>
    </message>
    <message>
        <source>%1 分</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>期限切れ</source>
        <translation>Expired</translation>
    </message>
    <message>
        <source>・更新</source>
        <translation> · record</translation>
    </message>
    <message>
        <source>記録挑戦 %1 件（完了 %2 件）&#x3000;窓 %3 分&#x3000;更新に必要な差 %4 %</source>
        <translation>%1 record attempts (%2 completed)   window %3 min   margin to beat %4 %</translation>
    </message>
    <message>
        <source>完了した記録挑戦を選ぶと証明書 (PDF) を作れます</source>
        <translation>Pick a completed record attempt to make its certificate (PDF)</translation>
    </message>
    <message>
        <source>PDF (*.pdf)</source>
        <translation>PDF (*.pdf)</translation>
    </message>
    <message>
        <source>証明書を %1 に書き出しました</source>
        <translation>Certificate written to %1</translation>
    </message>
    <message>
        <source>証明書を作れません: %1</source>
        <translation>Cannot make the certificate: %1</translation>
    </message>
    <message>
        <source>完了した記録挑戦ではありません</source>
        <translation>not a completed record attempt</translation>
    </message>
    <message>
        <source>局の鍵がありません（%1）</source>
        <translation>the station has no key (%1)</translation>
    </message>
    <message>
        <source>走行 %1 が記録にありません</source>
        <translation>run %1 is not in the records</translation>
    </message>
    <message>
        <source>走行 %1 はループ1の後に2度目のループ2で計られています</source>
        <translation>Run %1 was timed to a second crossing of loop 2 after loop 1</translation>
    </message>
    <message>
        <source>帰りの走行 %1 は要確認です。承認されると完了します</source>
        <translation>Return run %1 is suspect; it completes the attempt once accepted</translation>
    </message>
    <message>
        <source>全計測の票を印刷</source>
        <translation>Print a slip for every attempt</translation>
    </message>
    <message>
        <source>計測のたびに既定のプリンターで計測票を印刷します</source>
        <translation>Prints a slip on the default printer at every attempt</translation>
    </message>
    <message>
        <source>帰りの走行 %1 が却下されました</source>
        <translation>Return run %1 was rejected</translation>
    </message>
    <message>
        <source>計測 %1 の計測票を作れません：%2</source>
        <translation>Cannot make the slip of attempt %1: %2</translation>
    </message>
    <message>
        <source>%1 に書き込めません: %2</source>
        <translation>Cannot write %1: %2</translation>
    </message>
    <message>
        <source>印刷</source>
        <translation>Print</translation>
    </message>
    <message>
        <source>完了した記録挑戦の証明書をプリンターで印刷します</source>
        <translation>Prints the certificate of the picked completed record attempt</translation>
    </message>
    <message>
        <source>証明書を印刷しました</source>
        <translation>Certificate printed</translation>
    </message>
</context>
<context>
    <name>RegistrationModel</name>
    <message>
        <source>ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID</source>
        <translation>Transp. ID</translation>
    </message>
    <message>
        <source>名前</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>トランスポンダーIDを空にすることはできません。</source>
        <translation>The transponder ID cannot be empty.</translation>
    </message>
    <message>
        <source>トランスポンダーID「%1」は既に登録されています。</source>
        <translation>Transponder ID &quot;%1&quot; is already registered.</translation>
    </message>
    <message>
        <source>変更を保存できませんでした: %1</source>
        <translation>The change could not be saved: %1</translation>
    </message>
</context>
<context>
    <name>Review</name>
    <message>
        <source>区間長 %1 cm は使えません</source>
        <translation>A section length of %1 cm cannot be used</translation>
    </message>
</context>
<context>
    <name>SlipPrinter</name>
    <message>
        <source>プリンター %1 で印刷を始められません</source>
        <translation>Cannot start printing on printer %1</translation>
    </message>
    <message>
        <source>速度記録証明書</source>
        <translation>Speed Record Certificate</translation>
    </message>
    <message>
        <source>計測票</source>
        <translation>Time Slip</translation>
    </message>
    <message>
        <source>既定のプリンターがないため、計測票を印刷しません</source>
        <translation>There is no default printer: slips are not printed</translation>
    </message>
    <message>
        <source>計測票のフォルダー %1 がありません</source>
        <translation>The slip folder %1 does not exist</translation>
    </message>
    <message numerus="yes">
        <source>計測票の印刷が追いつかないため、計測票 %n 枚を待たせています。これより後の計測票は印刷しません</source>
        <translation>
            <numerusform>Printing cannot keep up: %n slip is waiting. Later slips are not printed</numerusform>
            <numerusform>Printing cannot keep up: %n slips are waiting. Later slips are not printed</numerusform>
        </translation>
    </message>
    <message>
        <source>計測票を印刷できません：%1</source>
        <translation>Cannot print a slip: %1</translation>
    </message>
</context>
<context>
    <name>SpeedDb</name>
    <message>
        <source>データベース %1 を開けません: %2</source>
        <translation>Cannot open the database %1: %2</translation>
    </message>
    <message>
        <source>フィールド &apos;%1&apos; が見つかりません</source>
        <translation>Field &apos;%1&apos; not found</translation>
    </message>
    <message>
        <source>&apos;%1&apos; は正しい浮動小数点数値ではありません</source>
        <translation>&apos;%1&apos; is not a valid floating-point number</translation>
    </message>
</context>
<context>
    <name>SpeedView</name>
    <message>
        <source>計測を待っています</source>
        <translation>Waiting for a speed</translation>
    </message>
    <message>
        <source>ベスト更新</source>
        <translation>New best</translation>
    </message>
    <message>
        <source>スピード表示</source>
        <translation>Speed view</translation>
    </message>
</context>
<context>
    <name>TCustomCommX</name>
    <message>
        <source>ポートは、すでにオープンされています</source>
        <translation>The port is already open</translation>
    </message>
    <message>
        <source>ポートをオープンできませんでした</source>
        <translation>Could not open the port</translation>
    </message>
    <message>
        <source>通信用ポートのバッファを準備できませんでした</source>
        <translation>Could not set up the port&apos;s buffers</translation>
    </message>
    <message>
        <source>通信速度の設定でエラーが発生しました</source>
        <translation>Error while setting the bit rate</translation>
    </message>
    <message>
        <source>通信ビット数の設定でエラーが発生しました</source>
        <translation>Error while setting the data bits</translation>
    </message>
    <message>
        <source>通信パリティチェックの設定でエラーが発生しました</source>
        <translation>Error while setting the parity</translation>
    </message>
    <message>
        <source>通信ストップビット数の設定でエラーが発生しました</source>
        <translation>Error while setting the stop bits</translation>
    </message>
    <message>
        <source>通信フロー制御の設定で失敗しました</source>
        <translation>Could not set the flow control</translation>
    </message>
    <message>
        <source>通信タイムアウト時間の設定で失敗しました</source>
        <translation>Could not set the timeouts</translation>
    </message>
    <message>
        <source>送信用スレッドを生成できませんでした</source>
        <translation>Could not start the send thread</translation>
    </message>
    <message>
        <source>受信用スレッドを生成できませんでした</source>
        <translation>Could not start the receive thread</translation>
    </message>
</context>
<context>
    <name>TFkorvane</name>
    <message>
        <source>出力ポートは開けませんでした。</source>
        <translation>Could not open the output port.</translation>
    </message>
    <message>
        <source>&apos;%1&apos; は整数ではありません</source>
        <translation>&apos;%1&apos; is not a whole number</translation>
    </message>
    <message>
        <source>取り込みポート１は開けませんでした。</source>
        <translation>Could not open input port 1.</translation>
    </message>
    <message>
        <source>取り込みポート２は開けませんでした。</source>
        <translation>Could not open input port 2.</translation>
    </message>
    <message>
        <source>/%1 受信データ %2 バイトを破棄しました（改行なし）</source>
        <translation>/%1 dropped %2 received bytes (no line end)</translation>
    </message>
    <message>
        <source> 記録待ちが %1 件に達したため、古い通過 %2 件を破棄しました</source>
        <translation> %1 passings were waiting to be stored: dropped the %2 oldest</translation>
    </message>
    <message>
        <source> 記録を待っていた通過 %1 件を記録しました</source>
        <translation> Stored %1 passings that were waiting</translation>
    </message>
    <message>
        <source>ループ%1</source>
        <translation>Loop %1</translation>
    </message>
    <message>
        <source>%1: 装置が見つかりません（抜かれた可能性があります）</source>
        <translation>%1: device not found (it may have been unplugged)</translation>
    </message>
    <message>
        <source> ループ%1 無信号（%2 秒以上）</source>
        <translation> Loop %1 silent (%2 s or more)</translation>
    </message>
    <message>
        <source> 無信号</source>
        <translation> silent</translation>
    </message>
    <message>
        <source> ループ%1 ポート異常: %2</source>
        <translation> Loop %1 port fault: %2</translation>
    </message>
    <message>
        <source> ポート異常: </source>
        <translation> port fault: </translation>
    </message>
    <message>
        <source> ループ%1 受信再開</source>
        <translation> Loop %1 receiving again</translation>
    </message>
    <message>
        <source> 受信再開</source>
        <translation> receiving again</translation>
    </message>
    <message>
        <source> ループ%1 デコーダの時計が設定されていません</source>
        <translation> Loop %1 decoder clock not set</translation>
    </message>
    <message>
        <source> ループ%1 デコーダの時計が PC と合いました</source>
        <translation> Loop %1 decoder clock matches the PC</translation>
    </message>
    <message>
        <source> ループ%1 PC の時計が変わりました（時計のずれを測り直します）</source>
        <translation> Loop %1 PC clock changed (measuring the offset again)</translation>
    </message>
    <message>
        <source> ループ間の時計差 %1 ms（上限 %2 ms）</source>
        <translation> Clock difference between loops %1 ms (limit %2 ms)</translation>
    </message>
    <message>
        <source> 時計合わせを送りました（自動）</source>
        <translation> Sent time set (automatic)</translation>
    </message>
    <message>
        <source> ループ間の時計差が上限内に戻りました</source>
        <translation> Clock difference between loops back within the limit</translation>
    </message>
    <message>
        <source> ポート異常（%1）</source>
        <translation> port fault (%1)</translation>
    </message>
    <message>
        <source> 時計未設定</source>
        <translation> clock not set</translation>
    </message>
    <message>
        <source>時計差 %1 ms</source>
        <translation>Clock diff. %1 ms</translation>
    </message>
    <message>
        <source>時計差 上限超え</source>
        <translation>Clock diff. over limit</translation>
    </message>
    <message>
        <source>&#x3000;</source>
        <translation>  </translation>
    </message>
    <message>
        <source>不明なエラーが発生しました</source>
        <translation>An unknown error occurred</translation>
    </message>
    <message>
        <source>計測区間距離</source>
        <translation>Distance</translation>
    </message>
    <message>
        <source>スクロールタイム</source>
        <translation>Hold time</translation>
    </message>
    <message>
        <source>秒</source>
        <translation>s</translation>
    </message>
    <message>
        <source>CSV出力</source>
        <translation>Export CSV</translation>
    </message>
    <message>
        <source>検索</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>名前</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>記録</source>
        <translation>Best</translation>
    </message>
    <message>
        <source>記録の削除</source>
        <translation>Delete best</translation>
    </message>
    <message>
        <source>確認してください。</source>
        <translation>Please confirm</translation>
    </message>
    <message>
        <source>選択したデータのスピード記録を削除してよろしいですか？</source>
        <translation>Delete the speed record of the selected entry?</translation>
    </message>
    <message>
        <source>ランキングを %1 に書き出しました。</source>
        <translation>Ranking written to %1.</translation>
    </message>
    <message>
        <source>名前の登録</source>
        <translation>Save name</translation>
    </message>
    <message>
        <source>パスワード</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>パスワード（確認用）</source>
        <translation>Password (again)</translation>
    </message>
    <message>
        <source>パスワードの登録</source>
        <translation>Save password</translation>
    </message>
    <message>
        <source>パスワードが一致しません。</source>
        <translation>Wrong password.</translation>
    </message>
    <message>
        <source>２つの認証番号が一致しません。</source>
        <translation>The two passwords do not match.</translation>
    </message>
    <message>
        <source>ボード調整</source>
        <translation>LED board</translation>
    </message>
    <message>
        <source>明るさ</source>
        <translation>Bright.</translation>
    </message>
    <message>
        <source>ポート１</source>
        <translation>Input port 1</translation>
    </message>
    <message>
        <source>ポート２</source>
        <translation>Input port 2</translation>
    </message>
    <message>
        <source>出力ポート</source>
        <translation>Output port</translation>
    </message>
    <message>
        <source>-60 分</source>
        <translation>-60 min</translation>
    </message>
    <message>
        <source>現在</source>
        <translation>now</translation>
    </message>
    <message>
        <source>通過待ち</source>
        <translation>Waiting for passings</translation>
    </message>
    <message>
        <source>%1 秒前</source>
        <translation>%1 s ago</translation>
    </message>
    <message>
        <source>%1%2:%3:%4 (未設定)</source>
        <translation>%1%2:%3:%4 (not set)</translation>
    </message>
    <message>
        <source>状態</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>最後のバイト</source>
        <translation>Last byte</translation>
    </message>
    <message>
        <source>最後の行</source>
        <translation>Last line</translation>
    </message>
    <message>
        <source>行／分</source>
        <translation>Lines/min</translation>
    </message>
    <message>
        <source>状態行</source>
        <translation>Status lines</translation>
    </message>
    <message>
        <source>通過</source>
        <translation>Passings</translation>
    </message>
    <message>
        <source>通過以外の行</source>
        <translation>Other lines</translation>
    </message>
    <message>
        <source>破棄したバイト</source>
        <translation>Dropped bytes</translation>
    </message>
    <message>
        <source>時計のずれ (PC−デコーダ)</source>
        <translation>Clock offset (PC−decoder)</translation>
    </message>
    <message>
        <source>ドリフト</source>
        <translation>Drift</translation>
    </message>
    <message>
        <source>ループ%1&#x3000;</source>
        <translation>Loop %1  </translation>
    </message>
    <message>
        <source>ポート無し</source>
        <translation>no port</translation>
    </message>
    <message>
        <source>Port %1&#x3000;%2</source>
        <translation>Port %1  %2</translation>
    </message>
    <message>
        <source>ポート異常</source>
        <translation>Port fault</translation>
    </message>
    <message>
        <source>無信号</source>
        <translation>Silent</translation>
    </message>
    <message>
        <source>受信中</source>
        <translation>Receiving</translation>
    </message>
    <message>
        <source>閉じています</source>
        <translation>Closed</translation>
    </message>
    <message>
        <source>ループ間の時計差: 両方のループの通過待ち（上限 %1 ms）</source>
        <translation>Clock difference between loops: waiting for passings on both loops (limit %1 ms)</translation>
    </message>
    <message>
        <source>ループ間の時計差 (ループ2−ループ1): %1（上限 %2 ms）%3
</source>
        <translation>Clock difference between loops (loop 2−loop 1): %1 (limit %2 ms)%3
</translation>
    </message>
    <message>
        <source>&#x3000;上限超え: 時計合わせをしてください</source>
        <translation>  Over the limit: please set the clocks</translation>
    </message>
    <message>
        <source>計測区間 %1 cm、%2 km/h で ±%3 %</source>
        <translation>Section %1 cm: ±%3 % at %2 km/h</translation>
    </message>
    <message>
        <source>設定を読み込めませんでした。終了します。</source>
        <translation>Could not read the settings. The program ends.</translation>
    </message>
    <message>
        <source>ファイル</source>
        <translation>File</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>計測</source>
        <translation>Measure</translation>
    </message>
    <message>
        <source>設定</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>データ確認</source>
        <translation>Data check</translation>
    </message>
    <message>
        <source>参照</source>
        <translation>Ranking</translation>
    </message>
    <message>
        <source>登録</source>
        <translation>Names</translation>
    </message>
    <message>
        <source>取り込みポート１は指定されていません。</source>
        <translation>No input port 1 selected.</translation>
    </message>
    <message>
        <source>取り込みポート２は指定されていません。</source>
        <translation>No input port 2 selected.</translation>
    </message>
    <message>
        <source>出力ポートは指定されていません。</source>
        <translation>No output port selected.</translation>
    </message>
    <message>
        <source> 通過を記録しませんでした（IDか時刻がシフトJISの文字ではありません）</source>
        <translation> Passing not stored (ID or time is not Shift_JIS text)</translation>
    </message>
    <message>
        <source>無し</source>
        <translation>None</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>すべて</source>
        <translation>All</translation>
    </message>
    <message>
        <source>承認</source>
        <translation>Accept</translation>
    </message>
    <message>
        <source>却下</source>
        <translation>Reject</translation>
    </message>
    <message>
        <source>区間長の訂正</source>
        <translation>Correct the section length</translation>
    </message>
    <message>
        <source>cm</source>
        <translation>cm</translation>
    </message>
    <message>
        <source>選択でなく期間で</source>
        <translation>Time range, not rows</translation>
    </message>
    <message>
        <source>訂正</source>
        <translation>Correct</translation>
    </message>
    <message>
        <source>すべての計測（新しい順）</source>
        <translation>All attempts (newest first)</translation>
    </message>
    <message>
        <source>ID %1 の計測（新しい順）</source>
        <translation>Attempts of ID %1 (newest first)</translation>
    </message>
    <message>
        <source>計測を選択してください。</source>
        <translation>Select one or more attempts.</translation>
    </message>
    <message>
        <source>%1 件を承認しました。</source>
        <translation>Accepted %1 attempt(s).</translation>
    </message>
    <message>
        <source>%1 件を却下しました。</source>
        <translation>Rejected %1 attempt(s).</translation>
    </message>
    <message>
        <source>最高速度が変わったトランスポンダー: %1 台</source>
        <translation>Transponders whose best speed changed: %1</translation>
    </message>
    <message>
        <source>区間長は 1～5000 の整数（cm）で入力してください。</source>
        <translation>Enter the section length as a whole number from 1 to 5000 (cm).</translation>
    </message>
    <message>
        <source>この期間の計測はありません。</source>
        <translation>There are no attempts in this time range.</translation>
    </message>
    <message>
        <source>選んだ計測の区間長はすでに %1 cm です。</source>
        <translation>The selected attempts already have a section length of %1 cm.</translation>
    </message>
    <message>
        <source>%1 件の計測の区間長を %2 cm に訂正し、スピードを計算し直します。
対象のトランスポンダー %3 台のうち、%4 台の最高速度が変わります。
よろしいですか？</source>
        <translation>The section length of %1 attempt(s) will be corrected to %2 cm and their speeds recomputed.
Of the %3 transponder(s) concerned, %4 will get a different best speed.
Continue?</translation>
    </message>
    <message>
        <source>%1 件の区間長を %2 cm に訂正しました。</source>
        <translation>Corrected the section length of %1 attempt(s) to %2 cm.</translation>
    </message>
    <message>
        <source>計測 %1 件を %2 に書き出しました。</source>
        <translation>Wrote %1 attempt(s) to %2.</translation>
    </message>
    <message>
        <source>履歴</source>
        <translation>History</translation>
    </message>
    <message>
        <source>ウェブページを開始できません: Listen=%1 は「アドレス:ポート」ではありません</source>
        <translation>Cannot start the web page: Listen=%1 is not &quot;address:port&quot;</translation>
    </message>
    <message>
        <source>ウェブページを開始できません: %1</source>
        <translation>Cannot start the web page: %1</translation>
    </message>
    <message>
        <source>接続済み</source>
        <translation>connected</translation>
    </message>
    <message>
        <source>未接続</source>
        <translation>not connected</translation>
    </message>
    <message>
        <source>&#x3000;未送信 %1 件</source>
        <translation>  %1 waiting to be sent</translation>
    </message>
    <message>
        <source>全ステーション</source>
        <translation>All stations</translation>
    </message>
    <message>
        <source>ステーション</source>
        <translation>Station</translation>
    </message>
    <message>
        <source>イベント %1 / %2: %3</source>
        <translation>Event %1 / %2: %3</translation>
    </message>
    <message>
        <source>全ステーションの順位を読めません: %1</source>
        <translation>Cannot read the ranking of all stations: %1</translation>
    </message>
    <message>
        <source>ﾄﾗﾝｽﾎﾟﾝﾀﾞｰID</source>
        <translation>Transp. ID</translation>
    </message>
    <message>
        <source>スピード</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>デバイス…</source>
        <translation>Device…</translation>
    </message>
    <message>
        <source>先にポート番号を選んでください。</source>
        <translation>Choose a port number first.</translation>
    </message>
    <message>
        <source> 再接続</source>
        <translation> reconnected</translation>
    </message>
    <message>
        <source>ポートを開けません</source>
        <translation>Cannot open ports</translation>
    </message>
    <message>
        <source> 異常（%1）</source>
        <translation> fault (%1)</translation>
    </message>
    <message>
        <source>ウェブページ: %1（このPCからのみ見られます。スマートフォンからは [Web] の Listen を 0.0.0.0 にするか PublicUrl を設定）</source>
        <translation>Web page: %1 (this PC only; for phones set Listen in [Web] to 0.0.0.0, or set PublicUrl)</translation>
    </message>
    <message>
        <source> キャプチャファイルに書き込めないため、記録を止めました: %1</source>
        <translation> Capture stopped: the capture file cannot be written: %1</translation>
    </message>
    <message>
        <source> 前回の終了時に記録できなかった %1 件を Korvane.pending から記録しました</source>
        <translation> Stored %1 records from Korvane.pending that the last close could not store</translation>
    </message>
    <message>
        <source>記録できなかった通過 %1 件と計測 %2 件が失われました: %3</source>
        <translation>%1 passings and %2 measurements that could not be stored are lost: %3</translation>
    </message>
    <message>
        <source>記録できなかった通過 %1 件と計測 %2 件を %3 に残しました。次の起動時に記録します</source>
        <translation>%1 passings and %2 measurements that could not be stored are kept in %3; the next start stores them</translation>
    </message>
    <message>
        <source>キャプチャファイルに書き込めません: %1</source>
        <translation>Cannot write the capture file: %1</translation>
    </message>
    <message>
        <source>データフォルダの空き %1 MB</source>
        <translation>Data folder: %1 MB free</translation>
    </message>
    <message>
        <source>（%1 MB 未満: 記録できなくなる前に空きを作ってください）</source>
        <translation> (below %1 MB: free some space before records can no longer be stored)</translation>
    </message>
    <message>
        <source>%1 に書き込めません: %2</source>
        <translation>Cannot write %1: %2</translation>
    </message>
    <message>
        <source>応答なし</source>
        <translation>not answering</translation>
    </message>
    <message>
        <source>%1 に書き込めません</source>
        <translation>Cannot write %1</translation>
    </message>
    <message>
        <source> 異常: %1</source>
        <translation> fault: %1</translation>
    </message>
    <message>
        <source>ウェブページ: %1&#x3000;スマートフォンからは %2</source>
        <translation>Web page: %1   from phones: %2</translation>
    </message>
    <message>
        <source>ウェブページ: 結果を読めません: %1</source>
        <translation>Web page: cannot read the results: %1</translation>
    </message>
    <message>
        <source>ウェブページ: 結果を再び読めます</source>
        <translation>Web page: the results read again</translation>
    </message>
    <message>
        <source>データフォルダ %1 に書き込めません: %2</source>
        <translation>Cannot write to the data folder %1: %2</translation>
    </message>
    <message>
        <source>データフォルダ %1 を作成できません: %2</source>
        <translation>Cannot create the data folder %1: %2</translation>
    </message>
    <message>
        <source>書き込めるフォルダを --data-dir で指定するか、このフォルダ（またはその親）をこのユーザーが書き込めるようにしてから起動し直してください。</source>
        <translation>Start again with --data-dir naming a folder you can write to, or make this folder (or its parent) writable for this user.</translation>
    </message>
    <message>
        <source>要確認のみ</source>
        <translation>To check only</translation>
    </message>
    <message>
        <source>要確認と計測不能の計測だけを表示します。
F3: 次の要確認&#x3000;Shift+F3: 前の要確認</source>
        <translation>Shows only the attempts to check and those that are not a measurement.
F3: next to check   Shift+F3: previous to check</translation>
    </message>
    <message>
        <source>%1 件</source>
        <translation>%1</translation>
    </message>
    <message>
        <source>履歴を更新できません: %1</source>
        <translation>Cannot update the history: %1</translation>
    </message>
    <message>
        <source>ヘルプ</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Korvane %1

マニュアル: %2</source>
        <translation>Korvane %1

Manual: %2</translation>
    </message>
    <message>
        <source>&#x3000;</source>
        <comment>between the lines of the status page&apos;s last row</comment>
        <translation>  </translation>
    </message>
    <message>
        <source>ソースの docs/manual.md</source>
        <translation>docs/manual.md in the sources</translation>
    </message>
    <message>
        <source>理由</source>
        <translation>Reason</translation>
    </message>
    <message>
        <source>訂正には必須</source>
        <translation>required for a correction</translation>
    </message>
    <message>
        <source>訂正の理由を入力してください（証拠の記録に残ります）。</source>
        <translation>Enter the reason for the correction (it is kept in the evidence records).</translation>
    </message>
</context>
</TS>

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>QX4Bench</name>
    <message>
        <source>--- しばらくお待ちください ---</source>
        <translation>--- Please wait ---</translation>
    </message>
    <message>
        <source>??? NACK受信</source>
        <translation>??? NACK received</translation>
    </message>
    <message>
        <source>AFI値 : </source>
        <translation>AFI : </translation>
    </message>
    <message>
        <source>AFI値: </source>
        <translation>AFI: </translation>
    </message>
    <message>
        <source>AFI値: %d</source>
        <translation>AFI: %d</translation>
    </message>
    <message>
        <source>AFI値の書き込み</source>
        <translation>Write AFI</translation>
    </message>
    <message>
        <source>AFI値の設定</source>
        <translation>Set AFI register</translation>
    </message>
    <message>
        <source>AFI値（１０進）</source>
        <translation>AFI (decimal)</translation>
    </message>
    <message>
        <source>AFI設定</source>
        <translation>AFI register</translation>
    </message>
    <message>
        <source>CMD_TIME_OVER受信</source>
        <translation>CMD_TIME_OVER received</translation>
    </message>
    <message>
        <source>COM1～COM10までチェックします。</source>
        <translation>Checking COM1 to COM10.</translation>
    </message>
    <message>
        <source>CRCエラー</source>
        <translation>CRC error</translation>
    </message>
    <message>
        <source>DSFID値の書き込み</source>
        <translation>Write DSFID</translation>
    </message>
    <message>
        <source>DSFID値（１０進）</source>
        <translation>DSFID (decimal)</translation>
    </message>
    <message>
        <source>EEPROM初期化</source>
        <translation>Initialise EEPROM</translation>
    </message>
    <message>
        <source>ISO15693</source>
        <translation>ISO15693</translation>
    </message>
    <message>
        <source>Inventory_設定あり</source>
        <translation>Inventory with settings</translation>
    </message>
    <message>
        <source>Lockコマンド</source>
        <translation>Lock commands</translation>
    </message>
    <message>
        <source>My-d １ブロックライト</source>
        <translation>my-d: write one block</translation>
    </message>
    <message>
        <source>My-d １ブロックリード</source>
        <translation>my-d: read one block</translation>
    </message>
    <message>
        <source>QX4Bench のバージョン情報...</source>
        <translation>About QX4Bench...</translation>
    </message>
    <message>
        <source>ROMバージョン取得</source>
        <translation>Get ROM version</translation>
    </message>
    <message>
        <source>UIDの番号</source>
        <translation>UID number</translation>
    </message>
    <message>
        <source>UIDデータ取得</source>
        <translation>Get UID data</translation>
    </message>
    <message>
        <source>UID数取得</source>
        <translation>Get UID count</translation>
    </message>
    <message>
        <source>my-d コマンド</source>
        <translation>my-d commands</translation>
    </message>
    <message>
        <source>エラー状態取得</source>
        <translation>Get error status</translation>
    </message>
    <message>
        <source>オートスキャンモード</source>
        <translation>Auto-scan mode</translation>
    </message>
    <message>
        <source>カレントUID取得</source>
        <translation>Get current UID</translation>
    </message>
    <message>
        <source>カレントUID指定</source>
        <translation>Current UID</translation>
    </message>
    <message>
        <source>カレントUID設定</source>
        <translation>Set current UID</translation>
    </message>
    <message>
        <source>カレント値を使用</source>
        <translation>Use the current UID</translation>
    </message>
    <message>
        <source>カードUID指定</source>
        <translation>Card UID</translation>
    </message>
    <message>
        <source>コマンドで指定</source>
        <translation>Given in the command</translation>
    </message>
    <message>
        <source>コマンドのサム値エラー</source>
        <translation>Wrong command sum</translation>
    </message>
    <message>
        <source>コマンドのＩＤ値のエラー</source>
        <translation>Wrong command ID</translation>
    </message>
    <message>
        <source>コマンドモード</source>
        <translation>Command mode</translation>
    </message>
    <message>
        <source>タグからの応答なし</source>
        <translation>No response from the tag</translation>
    </message>
    <message>
        <source>タグデータの書き込み</source>
        <translation>Write tag data</translation>
    </message>
    <message>
        <source>タグデータ受信エラー</source>
        <translation>Error receiving tag data</translation>
    </message>
    <message>
        <source>ツール</source>
        <translation>Tools</translation>
    </message>
    <message>
        <source>デフォルト</source>
        <translation>Default</translation>
    </message>
    <message>
        <source>データ数[1-255]</source>
        <translation>Byte count [1-255]</translation>
    </message>
    <message>
        <source>データ数エラー</source>
        <translation>Wrong data count</translation>
    </message>
    <message>
        <source>トリガーモード</source>
        <translation>Trigger mode</translation>
    </message>
    <message>
        <source>パワーダウンモード</source>
        <translation>Power-down mode</translation>
    </message>
    <message>
        <source>パワー状態取得</source>
        <translation>Get power state</translation>
    </message>
    <message>
        <source>ファイル</source>
        <translation>File</translation>
    </message>
    <message>
        <source>ブロック</source>
        <translation>Blocks</translation>
    </message>
    <message>
        <source>ブロックNO（１０進）</source>
        <translation>Block number (decimal)</translation>
    </message>
    <message>
        <source>ブロック数</source>
        <translation>Block count</translation>
    </message>
    <message>
        <source>ポーリングモード</source>
        <translation>Polling mode</translation>
    </message>
    <message>
        <source>ライトデータ（文字列）</source>
        <translation>Data to write (text)</translation>
    </message>
    <message>
        <source>リスタート</source>
        <translation>Restart</translation>
    </message>
    <message>
        <source>ロックブロック</source>
        <translation>Lock block</translation>
    </message>
    <message>
        <source>不正なコマンド</source>
        <translation>Illegal command</translation>
    </message>
    <message>
        <source>受信UID数 : </source>
        <translation>UIDs received : </translation>
    </message>
    <message>
        <source>受信UID数 : %d </source>
        <translation>UIDs received : %d </translation>
    </message>
    <message>
        <source>実　行</source>
        <translation>Run</translation>
    </message>
    <message>
        <source>富士通</source>
        <translation>Fujitsu</translation>
    </message>
    <message>
        <source>拡張コマンド</source>
        <translation>Extended commands</translation>
    </message>
    <message>
        <source>指定しない</source>
        <translation>Not specified</translation>
    </message>
    <message>
        <source>書き込むデータ（文字列）</source>
        <translation>Data to write (text)</translation>
    </message>
    <message>
        <source>未使用</source>
        <translation>Not used</translation>
    </message>
    <message>
        <source>環境設定...</source>
        <translation>Environment settings...</translation>
    </message>
    <message>
        <source>番号を指定してください(1-)</source>
        <translation>Number (from 1)</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>設定</source>
        <translation>Presets</translation>
    </message>
    <message>
        <source>送信キャリア</source>
        <translation>Carrier</translation>
    </message>
    <message>
        <source>連続インベントリ</source>
        <translation>Continuous inventory</translation>
    </message>
    <message>
        <source>１ブロックライト</source>
        <translation>Write one block</translation>
    </message>
    <message>
        <source>１ブロックリード</source>
        <translation>Read one block</translation>
    </message>
    <message>
        <source>２ブロックライト</source>
        <translation>Write two blocks</translation>
    </message>
    <message>
        <source>接続中</source>
        <translation>Opening</translation>
    </message>
    <message>
        <source>オープン</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>未接続</source>
        <translation>Not open</translation>
    </message>
    <message>
        <source>切断</source>
        <translation>Lost</translation>
    </message>
    <message>
        <source>モード不明</source>
        <translation>Mode unknown</translation>
    </message>
    <message>
        <source>タグ: %1</source>
        <translation>Tags: %1</translation>
    </message>
    <message>
        <source>リーダーから応答がありません（タイムアウト）</source>
        <translation>No answer from the reader (time-out)</translation>
    </message>
    <message>
        <source>別のコマンドの実行中のため送信していません</source>
        <translation>Not sent: another command was running</translation>
    </message>
    <message>
        <source>ポートが開いていません（COM再設定で開き直してください）</source>
        <translation>The port is not open (reopen it with COM port...)</translation>
    </message>
    <message>
        <source>値が範囲外のため送信していません</source>
        <translation>Not sent: a value is out of range</translation>
    </message>
    <message>
        <source>応答の長さまたは形式が不正です</source>
        <translation>The reply has the wrong length or shape</translation>
    </message>
    <message>
        <source>リーダーとの同期が取れません</source>
        <translation>The link to the reader is out of step</translation>
    </message>
    <message>
        <source>COM%1 に対応するデバイスがありません</source>
        <translation>No device for COM%1</translation>
    </message>
    <message>
        <source>%1 は使用中か、シリアルポートではありません</source>
        <translation>%1 is in use or is not a serial port</translation>
    </message>
    <message>
        <source>%1 を開く権限がありません（dialout グループに入ってください）</source>
        <translation>No permission to open %1 (join the dialout group)</translation>
    </message>
    <message>
        <source>%1 は別のプログラムが使用中です</source>
        <translation>%1 is in use by another program</translation>
    </message>
    <message>
        <source>実行中: %1</source>
        <translation>Waiting: %1</translation>
    </message>
    <message>
        <source>開けません</source>
        <translation>cannot be opened</translation>
    </message>
    <message>
        <source>リーダーとの同期が取れません: %1</source>
        <translation>The link to the reader is out of step: %1</translation>
    </message>
    <message>
        <source>COM%1%2 との接続が切れました。COM再設定 で開き直してください。</source>
        <translation>COM%1%2 was lost. Reopen it with Set COM port.</translation>
    </message>
    <message>
        <source>ログを保存</source>
        <translation>Save log</translation>
    </message>
    <message>
        <source>テキスト (*.txt *.log);;すべてのファイル (*)</source>
        <translation>Text (*.txt *.log);;All files (*)</translation>
    </message>
    <message>
        <source>ログを保存できません: %1</source>
        <translation>Cannot save the log: %1</translation>
    </message>
    <message>
        <source>結果の行</source>
        <translation>Result line</translation>
    </message>
    <message>
        <source>タグのブロックサイズは %1 バイトです（表示は %2 バイト分）</source>
        <translation>The tag's blocks are %1 bytes long (%2 bytes shown)</translation>
    </message>
    <message>
        <source>応答がブロックサイズ %1 バイトに合いません</source>
        <translation>The reply does not fit blocks of %1 bytes</translation>
    </message>
    <message>
        <source>コピー(&amp;C)</source>
        <translation>&amp;Copy</translation>
    </message>
    <message>
        <source>すべて選択(&amp;A)</source>
        <translation>Select &amp;all</translation>
    </message>
    <message>
        <source>行を表示(&amp;V)...</source>
        <translation>&amp;View line...</translation>
    </message>
    <message>
        <source>ログを保存(&amp;S)...</source>
        <translation>&amp;Save log...</translation>
    </message>
    <message>
        <source>回数</source>
        <translation>Count</translation>
    </message>
    <message>
        <source>リーダーのカレントUID</source>
        <translation>the reader's current UID</translation>
    </message>
    <message>
        <source>宛先なし</source>
        <translation>unaddressed</translation>
    </message>
    <message>
        <source>書き込みデータ %1</source>
        <translation>data written %1</translation>
    </message>
    <message>
        <source>元に戻せません。送信しますか？</source>
        <translation>This cannot be undone. Send it?</translation>
    </message>
    <message>
        <source>送信する(&amp;Y)</source>
        <translation>&amp;Send</translation>
    </message>
    <message>
        <source>送信しない(&amp;N)</source>
        <translation>Do&amp;n't send</translation>
    </message>
    <message>
        <source>送信しませんでした: %1（確認で取り消し）</source>
        <translation>Not sent: %1 (declined)</translation>
    </message>
    <message>
        <source>タグ %1: %2</source>
        <translation>Tag %1: %2</translation>
    </message>
    <message>
        <source>%1（%2）</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>UID を指定せずに送るため、電界内の %1 枚のタグすべてに届きます。</source>
        <translation>It goes out without a UID: all %1 tags in the field will act on it.</translation>
    </message>
    <message>
        <source>UID を指定せずに送るため、電界内のすべてのタグに届きます（タグの数は分かりません）。</source>
        <translation>It goes out without a UID: every tag in the field will act on it (how many there are is not known).</translation>
    </message>
    <message>
        <source>%1 に書き込みます</source>
        <translation>Writes %1</translation>
    </message>
    <message>
        <source>ブロック %1</source>
        <translation>block %1</translation>
    </message>
    <message>
        <source>ブロック %1–%2</source>
        <translation>blocks %1–%2</translation>
    </message>
    <message>
        <source>ブロック %1 から %2 バイト</source>
        <translation>%2 bytes from block %1</translation>
    </message>
    <message>
        <source>応答したタグ: %1（表示は 1 つ。すべては Inventory2 と UIDデータ取得 で）</source>
        <translation>Tags that answered: %1 (one shown; all of them with Inventory2 and Get UID data)</translation>
    </message>
    <message>
        <source>応答したタグ: %1</source>
        <translation>Tags that answered: %1</translation>
    </message>
    <message>
        <source>%1 をロックします</source>
        <translation>Locks %1</translation>
    </message>
    <message>
        <source>リーダーの EEPROM を初期値に戻します。リーダーに保存した設定はすべて消えます。</source>
        <translation>Resets the reader's EEPROM to its initial values: every setting stored in the reader is lost.</translation>
    </message>
    <message>
        <source>キャリアを止めました: TxON までタグは読めません</source>
        <translation>Carrier off: no tag can be read until TxON</translation>
    </message>
    <message>
        <source>リーダーの設定を書き換えます: タグモード 0x%1（EEPROM へ）、EEPROM の語 12, 16, 19、ブロックサイズ %2。チェッカー自身の設定を戻すものではありません。</source>
        <translation>Rewrites the reader's configuration: tag mode 0x%1 (into its EEPROM), EEPROM words 12, 16 and 19, block size %2. This does not reset the checker's own settings.</translation>
    </message>
    <message>
        <source>%1 のリーダーから応答がありません</source>
        <translation>No answer from the reader on %1</translation>
    </message>
    <message>
        <source>送信していません: リーダーとの同期が取れません</source>
        <translation>Not sent: the link to the reader is out of step</translation>
    </message>
    <message>
        <source>失敗しました（原因コード %1）</source>
        <translation>Failed (cause %1)</translation>
    </message>
    <message>
        <source>%1 との接続が切れました。COM再設定 で開き直してください。</source>
        <translation>%1 was lost. Reopen it with COM port....</translation>
    </message>
    <message>
        <source>ポート「%1」は使えません: COM番号（COM11 など）、デバイスのパス（/dev/ttyUSB0 など）か tcp://、rfc2217:// のアドレスを入力してください</source>
        <translation>The port "%1" cannot be used: type a COM number (such as COM11), a device path (such as /dev/ttyUSB0) or a tcp:// or rfc2217:// address</translation>
    </message>
    <message>
        <source>COM番号、デバイスのパスか tcp://、rfc2217:// のアドレスを入力してください</source>
        <translation>Type a COM number, a device path or a tcp:// or rfc2217:// address</translation>
    </message>
    <message>
        <source>リーダーの EEPROM にタグモード 0x%1 を書き込みます</source>
        <translation>Writes tag mode 0x%1 into the reader's EEPROM</translation>
    </message>
    <message>
        <source>動作モードの設定</source>
        <translation>Operation mode</translation>
    </message>
    <message>
        <source>リーダーの EEPROM に動作モード 0x%1（フラグ 0x%2）を書き込みます</source>
        <translation>Writes operation mode 0x%1 (flags 0x%2) into the reader's EEPROM</translation>
    </message>
    <message>
        <source>タグのブロックサイズは %1 バイトです（環境設定のブロックサイズは %2 バイト）</source>
        <translation>The tag's blocks are %1 bytes long (the block size set is %2 bytes)</translation>
    </message>
    <message>
        <source>ログファイルを開けません: %1 (%2)</source>
        <translation>Cannot open the log file: %1 (%2)</translation>
    </message>
    <message>
        <source>ログをファイルに記録(&amp;L)...</source>
        <translation>&amp;Log to a file...</translation>
    </message>
    <message>
        <source>ログをファイルに記録</source>
        <translation>Log to a file</translation>
    </message>
    <message>
        <source>前のコマンドを繰り返す(&amp;R)</source>
        <translation>&amp;Repeat the last command</translation>
    </message>
    <message>
        <source>RFﾓｰﾄﾞ</source>
        <translation>RF mode</translation>
    </message>
    <message>
        <source>UIDテーブル</source>
        <translation>UID table</translation>
    </message>
    <message>
        <source>結果</source>
        <translation>Results</translation>
    </message>
    <message>
        <source>リーダーのタグモードを読み、変更します</source>
        <translation>Reads and changes the reader's tag mode</translation>
    </message>
    <message>
        <source>リーダーの動作モードを読み、変更します</source>
        <translation>Reads and changes the reader's operation mode</translation>
    </message>
    <message>
        <source>リーダーにタグデータを送ります</source>
        <translation>Sends tag data to the reader</translation>
    </message>
    <message>
        <source>ポート、通信速度、応答タイムアウトを設定して開き直します</source>
        <translation>Sets the port, rate and response time-out and opens it again</translation>
    </message>
    <message>
        <source>結果の一覧と UID テーブルを空にします</source>
        <translation>Empties the result list and the UID table</translation>
    </message>
    <message>
        <source>オートスキャンモードとコマンドモードを切り替えます</source>
        <translation>Switches between auto-scan mode and command mode</translation>
    </message>
    <message>
        <source>通信フレーム</source>
        <translation>Frames</translation>
    </message>
    <message>
        <source>受信バイト %1 個を失いました（受信バッファが一杯）</source>
        <translation>%1 received bytes lost (the receive buffer was full)</translation>
    </message>
    <message>
        <source>（フレームではありません）</source>
        <translation>(no frame)</translation>
    </message>
    <message>
        <source>コマンド</source>
        <translation>Commands</translation>
    </message>
    <message>
        <source>メニュー</source>
        <translation>Menu</translation>
    </message>
    <message>
        <source>送るもの</source>
        <translation>What it sends</translation>
    </message>
    <message>
        <source>表示(&amp;V)</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>通信フレーム(&amp;F)</source>
        <translation>&amp;Frames</translation>
    </message>
    <message>
        <source>ヘルプ(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>コマンド(&amp;C)...</source>
        <translation>&amp;Commands...</translation>
    </message>
    <message>
        <source>送信していません: リーダーが同期用の EEPROM 読み出しを拒否しました</source>
        <translation>Not sent: the reader refused the EEPROM reads that bring the link in step</translation>
    </message>
    <message>
        <source>（%1 フレームを省略）</source>
        <translation>(%1 frames left out)</translation>
    </message>
    <message>
        <source>ポートを閉じてチェッカーを終了します。</source>
        <translation>Closes the port and ends the checker.</translation>
    </message>
    <message>
        <source>0x78 0x01 Inventory、フラグ 0x40（1 スロット）。続けて Inventory2 で応答したタグを数えます。</source>
        <translation>0x78 0x01 Inventory, flags 0x40 (one slot); then Inventory2 to count the tags that answered.</translation>
    </message>
    <message>
        <source>0x78 0xF0 衝突防止インベントリ: リーダーがフィールドのすべての UID を集めます。</source>
        <translation>0x78 0xF0 anticollision inventory: the reader collects every UID in the field.</translation>
    </message>
    <message>
        <source>0x78 0x02 Stay quiet、常に UID 付き。</source>
        <translation>0x78 0x02 Stay quiet, always with the UID.</translation>
    </message>
    <message>
        <source>0x78 0x20 1 ブロック読み出し: BlockNo。オプションと UID の指定は Read 関係の設定。</source>
        <translation>0x78 0x20 Read single block: BlockNo; option and addressing of the read settings.</translation>
    </message>
    <message>
        <source>0x78 0x21 1 ブロック書き込み: BlockNo に WrStr1 の 1 ブロック。Write 関係の設定。</source>
        <translation>0x78 0x21 Write single block: BlockNo, one block of WrStr1; write settings.</translation>
    </message>
    <message>
        <source>0x78 0x23 複数ブロック読み出し: BlockNo から BlockNum + 1 ブロック。</source>
        <translation>0x78 0x23 Read multiple blocks: BlockNo, BlockNum + 1 blocks.</translation>
    </message>
    <message>
        <source>0x78 0x24 複数ブロック書き込み: BlockNo から WrStr1 の BlockNum + 1 ブロック。</source>
        <translation>0x78 0x24 Write multiple blocks: BlockNo, BlockNum + 1 blocks of WrStr1.</translation>
    </message>
    <message>
        <source>0x78 0x25 Select、常に UID 付き。</source>
        <translation>0x78 0x25 Select, always with the UID.</translation>
    </message>
    <message>
        <source>0x78 0xA2 2 ブロック書き込み: BlockNo と次のブロックに WrStr1。</source>
        <translation>0x78 0xA2 Write two blocks: BlockNo and the next, from WrStr1.</translation>
    </message>
    <message>
        <source>0x78 0x26 Reset to ready。</source>
        <translation>0x78 0x26 Reset to ready.</translation>
    </message>
    <message>
        <source>0x78 0x27 AFI 書き込み（入力した値）。</source>
        <translation>0x78 0x27 Write AFI (the value typed).</translation>
    </message>
    <message>
        <source>0x78 0x29 DSFID 書き込み（入力した値）。</source>
        <translation>0x78 0x29 Write DSFID (the value typed).</translation>
    </message>
    <message>
        <source>0x78 0x2B システム情報: UID、DSFID、AFI、メモリサイズ。</source>
        <translation>0x78 0x2B Get system information: UID, DSFID, AFI, memory size.</translation>
    </message>
    <message>
        <source>0x78 0x2C 複数ブロックのセキュリティ状態: BlockNo から BlockNum + 1 ブロック。</source>
        <translation>0x78 0x2C Get multiple block security status: BlockNo, BlockNum + 1 blocks.</translation>
    </message>
    <message>
        <source>0x78 0x22 ブロック BlockNo のロック: 元に戻せません。先に確認します。</source>
        <translation>0x78 0x22 Lock block BlockNo: permanent, asks first.</translation>
    </message>
    <message>
        <source>0x78 0x28 AFI のロック: 元に戻せません。先に確認します。</source>
        <translation>0x78 0x28 Lock AFI: permanent, asks first.</translation>
    </message>
    <message>
        <source>0x78 0x2A DSFID のロック: 元に戻せません。先に確認します。</source>
        <translation>0x78 0x2A Lock DSFID: permanent, asks first.</translation>
    </message>
    <message>
        <source>0x78 0xA3 BlockNo から 2 ブロックのロック、オプションフラグは常にセット: 元に戻せません。先に確認します。</source>
        <translation>0x78 0xA3 Lock two blocks from BlockNo, option flag always set: permanent, asks first.</translation>
    </message>
    <message>
        <source>0x4E 0x9D リーダーの再起動。</source>
        <translation>0x4E 0x9D restart of the reader.</translation>
    </message>
    <message>
        <source>0x4F 0x90 リーダーの ROM バージョン。</source>
        <translation>0x4F 0x90 ROM version of the reader.</translation>
    </message>
    <message>
        <source>0x4E 0x71 EEPROM 初期化: リーダーに保存された設定はすべて失われます。先に確認します。</source>
        <translation>0x4E 0x71 EEPROM initialisation: every setting stored in the reader is lost; asks first.</translation>
    </message>
    <message>
        <source>0x4E 0x52 リーダーのパワーダウンモード。</source>
        <translation>0x4E 0x52 power-down mode of the reader.</translation>
    </message>
    <message>
        <source>0x4F 0x52 電源の状態。</source>
        <translation>0x4F 0x52 power state.</translation>
    </message>
    <message>
        <source>0x4F 0x80 エラー状態。</source>
        <translation>0x4F 0x80 error status.</translation>
    </message>
    <message>
        <source>0x4F 0x50 リーダーのカレント UID レジスタ。</source>
        <translation>0x4F 0x50 the reader's current UID register.</translation>
    </message>
    <message>
        <source>0x4E 0x50 手元の UID をリーダーのカレント UID レジスタに設定します。</source>
        <translation>0x4E 0x50 sets the reader's current UID register to the UID in hand.</translation>
    </message>
    <message>
        <source>0x4F 0x53 直前の Inventory2 が集めた UID の数。</source>
        <translation>0x4F 0x53 number of UIDs the last Inventory2 collected.</translation>
    </message>
    <message>
        <source>0x4F 0x54 その一覧の n 番目の UID。</source>
        <translation>0x4F 0x54 UID number n of that list.</translation>
    </message>
    <message>
        <source>0x4E 0x9E キャリアオン。</source>
        <translation>0x4E 0x9E carrier on.</translation>
    </message>
    <message>
        <source>0x4E 0x9E キャリアオフ: TxON までどのタグも応答しません。</source>
        <translation>0x4E 0x9E carrier off: no tag answers until TxON.</translation>
    </message>
    <message>
        <source>0x78 0xA0 ブロック BlockNo から BlockNum バイトの読み出し。</source>
        <translation>0x78 0xA0 read of BlockNum bytes from block BlockNo.</translation>
    </message>
    <message>
        <source>0x78 0xA1 ブロック BlockNo から WrStr1 のバイトの書き込み。</source>
        <translation>0x78 0xA1 write of the bytes of WrStr1 from block BlockNo.</translation>
    </message>
    <message>
        <source>何も送りません: チェッカーの UID の指定、オプションフラグ、ブロックサイズ。</source>
        <translation>Nothing is sent: addressing, option flags and block size of the checker.</translation>
    </message>
    <message>
        <source>0x4E 0x19 タグモード 0xD4 を EEPROM へ、0x4E 0x70 EEPROM ワード 12、16、19（ブロックサイズ 4）: リーダーの設定です。先に確認します。</source>
        <translation>0x4E 0x19 tag mode 0xD4 into the EEPROM, 0x4E 0x70 EEPROM words 12, 16, 19 (block size 4): the reader's configuration; asks first.</translation>
    </message>
    <message>
        <source>0x4E 0x19 タグモード 0xE4 を EEPROM へ、0x4E 0x70 EEPROM ワード 12、16、19（ブロックサイズ 8）: リーダーの設定です。先に確認します。</source>
        <translation>0x4E 0x19 tag mode 0xE4 into the EEPROM, 0x4E 0x70 EEPROM words 12, 16, 19 (block size 8): the reader's configuration; asks first.</translation>
    </message>
    <message>
        <source>0x4E 0x51 リーダーの AFI レジスタの設定。</source>
        <translation>0x4E 0x51 sets the reader's AFI register.</translation>
    </message>
    <message>
        <source>0x4F 0x51 リーダーの AFI レジスタの読み出し。</source>
        <translation>0x4F 0x51 reads the reader's AFI register.</translation>
    </message>
    <message>
        <source>0x78 0xB0 ブロック BlockNo の my-d 読み出し。</source>
        <translation>0x78 0xB0 my-d read of block BlockNo.</translation>
    </message>
    <message>
        <source>0x78 0xB1 WrStr1 の 1 ブロックを my-d 書き込み。</source>
        <translation>0x78 0xB1 my-d write of one block of WrStr1.</translation>
    </message>
    <message>
        <source>0x78 0x01 ダイアログで選んだフラグで Inventory。</source>
        <translation>0x78 0x01 Inventory with the flags chosen in its dialog.</translation>
    </message>
    <message>
        <source>COM1 から COM10 を順に開き、それぞれに ROM バージョンを問い合わせます。</source>
        <translation>Opens COM1 to COM10 in turn and asks each for its ROM version.</translation>
    </message>
    <message>
        <source>何も送りません。</source>
        <translation>Nothing is sent.</translation>
    </message>
    <message>
        <source>リーダーから応答がありません</source>
        <translation>no answer from the reader</translation>
    </message>
    <message>
        <source>ポートを開けません</source>
        <translation>the port cannot be opened</translation>
    </message>
    <message>
        <source>タグが自分から送った UID（とデータ）と、その回数</source>
        <translation>UIDs (and data) the tags sent on their own, and how often</translation>
    </message>
    <message>
        <source>各コマンドの結果。行をダブルクリックすると全体を表示します</source>
        <translation>The outcome of each command; double-click a line to see all of it</translation>
    </message>
    <message>
        <source>リーダーとの間のフレーム（qx4 --trace と同じ解読）</source>
        <translation>Frames to and from the reader (decoded as qx4 --trace does)</translation>
    </message>
</context>
<context>
    <name>AboutDialog</name>
    <message>
        <source>QX4Panel のバージョン情報</source>
        <translation>About QX4Panel</translation>
    </message>
</context>
<context>
    <name>ComPortDialog</name>
    <message>
        <source>応答タイムアウト (ms)</source>
        <translation>Response time-out (ms)</translation>
    </message>
    <message>
        <source>ボーレイト</source>
        <translation>Baud rate</translation>
    </message>
</context>
<context>
    <name>DataEntry1Dialog</name>
    <message>
        <source>タグデータの書き込み</source>
        <translation>Write tag data</translation>
    </message>
    <message>
        <source>データ（文字列）</source>
        <translation>Data (text)</translation>
    </message>
</context>
<context>
    <name>DataEntry2Dialog</name>
    <message>
        <source>データ（文字列）</source>
        <translation>Data (text)</translation>
    </message>
</context>
<context>
    <name>DataEntry3Dialog</name>
    <message>
        <source>データ（文字列）</source>
        <translation>Data (text)</translation>
    </message>
</context>
<context>
    <name>EnvSettingsDialog</name>
    <message>
        <source>環境設定</source>
        <translation>Environment settings</translation>
    </message>
    <message>
        <source>UIDの指定</source>
        <translation>UID</translation>
    </message>
    <message>
        <source>Read関係のコマンド</source>
        <translation>Read commands</translation>
    </message>
    <message>
        <source>ｵﾌﾟｼｮﾝﾌﾗｸﾞ</source>
        <translation>Option flag</translation>
    </message>
    <message>
        <source>Write関係のコマンド</source>
        <translation>Write commands</translation>
    </message>
    <message>
        <source>ブロックサイズ</source>
        <translation>Block size</translation>
    </message>
</context>
<context>
    <name>InventorySettingsDialog</name>
    <message>
        <source>Inventory設定</source>
        <translation>Inventory settings</translation>
    </message>
    <message>
        <source>無効</source>
        <translation>Off</translation>
    </message>
    <message>
        <source>有効</source>
        <translation>On</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>MainForm</name>
    <message>
        <source>RFﾓｰﾄﾞ</source>
        <translation>RF mode</translation>
    </message>
    <message>
        <source>設定...</source>
        <translation>Settings...</translation>
    </message>
    <message>
        <source>COM再設定</source>
        <translation>COM port...</translation>
    </message>
    <message>
        <source>クリア</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>テスト</source>
        <translation>Test</translation>
    </message>
</context>
<context>
    <name>OperationModeDialog</name>
    <message>
        <source>動作モードの設定</source>
        <translation>Operation mode</translation>
    </message>
    <message>
        <source>動作モード</source>
        <translation>Mode</translation>
    </message>
    <message>
        <source>ブザーを鳴らす</source>
        <translation>Buzzer</translation>
    </message>
    <message>
        <source>ｱﾝﾁｺﾘｼﾞｮﾝ</source>
        <translation>Anticollision</translation>
    </message>
    <message>
        <source>単独</source>
        <translation>Single</translation>
    </message>
    <message>
        <source>複数同時</source>
        <translation>Multiple</translation>
    </message>
    <message>
        <source>読取りモード</source>
        <translation>Read mode</translation>
    </message>
    <message>
        <source>シングル</source>
        <translation>Single</translation>
    </message>
    <message>
        <source>連続読取り</source>
        <translation>Continuous</translation>
    </message>
    <message>
        <source>データ+UID</source>
        <translation>Data+UID</translation>
    </message>
    <message>
        <source>EEPROMへｾｯﾄ</source>
        <translation>Store in EEPROM</translation>
    </message>
</context>
<context>
    <name>RfModeDialog</name>
    <message>
        <source>Baurd rete</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>EEPROMへｾｯﾄ</source>
        <translation>Store in EEPROM</translation>
    </message>
</context>
</TS>

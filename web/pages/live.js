// Korvane live results: the pages' one script. Every text that came from a
// decoder or the operator goes into the page as text (textContent), never as
// markup.
"use strict";
(function () {
  const labels = {
    ja: {
      live: "ライブ", ranking: "ランキング", share: "共有", speak: "読み上げ",
      newbest: "自己ベスト更新！", id: "ID", name: "名前", speed: "スピード",
      search: "IDまたは名前で検索", none: "該当なし", more: "さらに表示", best: "ベスト",
      time: "時刻", noattempts: "記録がありません",
      scan: "スマートフォンで読み取ってください", online: "接続中", offline: "再接続中…",
      localonly: "このページはこのPCからのみ見られます（スマートフォンからは開けません）",
      loop: "ループ", open: "受信中", silent: "無信号", failed: "ポート異常", closed: "閉",
      thisstation: "このステーション", allstations: "全ステーション", station: "ステーション",
      eventoff: "全ステーションの順位を読めません", eventwait: "全ステーションの順位を読み込み中…",
      unavailable: "結果を読めません（表示は前回のもの）",
      allclasses: "すべて",
      recwaiting: "記録挑戦: 1本目 {first} km/h — 帰りの走行を待っています（残り {left}）",
      recexpired: "記録挑戦: 1本目 {first} km/h — 時間切れ",
      reccompleted: "記録挑戦 完了: 平均 {result} km/h",
    },
    en: {
      live: "Live", ranking: "Ranking", share: "Share", speak: "Speak",
      newbest: "New personal best!", id: "ID", name: "Name", speed: "Speed",
      search: "Search by ID or name", none: "No match", more: "Show more", best: "Best",
      time: "Time", noattempts: "No attempts yet",
      scan: "Scan with your phone", online: "Connected", offline: "Reconnecting…",
      localonly: "This page can be opened on this PC only (not from a phone)",
      loop: "Loop ", open: "receiving", silent: "silent", failed: "port fault", closed: "closed",
      thisstation: "This station", allstations: "All stations", station: "Station",
      eventoff: "All-stations ranking unavailable", eventwait: "Reading the all-stations ranking…",
      unavailable: "Results unavailable (showing the last ones read)",
      allclasses: "All",
      recwaiting: "Record attempt: first run {first} km/h — waiting for the return run ({left} left)",
      recexpired: "Record attempt: first run {first} km/h — time is up",
      reccompleted: "Record attempt completed: mean {result} km/h",
    },
  };
  const lang = (navigator.languages && navigator.languages[0] || navigator.language || "ja")
    .toLowerCase().startsWith("en") ? "en" : "ja";
  const L = (key) => labels[lang][key] || key;
  document.documentElement.lang = lang;
  document.querySelectorAll("[data-l10n]").forEach((el) => { el.textContent = L(el.dataset.l10n); });
  document.querySelectorAll("[data-l10n-placeholder]").forEach((el) => {
    el.placeholder = L(el.dataset.l10nPlaceholder);
  });

  const $ = (id) => document.getElementById(id);
  const page = document.body.dataset.page;
  const setText = (id, text) => { const el = $(id); if (el) el.textContent = text == null ? "" : text; };
  const cell = (tr, text, cls) => {
    const td = document.createElement("td");
    td.textContent = text;
    if (cls) td.className = cls;
    tr.appendChild(td);
    return td;
  };
  const driverLink = (td, tpid) => {
    const a = document.createElement("a");
    a.href = "/driver/" + encodeURIComponent(tpid);
    a.textContent = td.textContent;
    td.textContent = "";
    td.appendChild(a);
  };
  const rankRow = (r, highlight) => {
    const tr = document.createElement("tr");
    cell(tr, r.rank, "rank");
    driverLink(cell(tr, r.tpid, "id"), r.tpid);
    driverLink(cell(tr, r.name, "name"), r.tpid);
    cell(tr, r.speed, "speed");
    if (highlight && r.tpid === highlight) tr.className = "hit";
    return tr;
  };
  // The event's combined ranking: every row says which station measured it.
  const eventRow = (r) => {
    const tr = rankRow(r);
    cell(tr, r.station, "station");
    return tr;
  };
  // Rows from an earlier read stay under a note that they are not fresh
  // (why is the operator's to know).
  const showEventNote = (ev) => {
    const note = $("eventnote");
    if (!note) return;
    note.textContent = !ev || ev.available ? "" : ev.error == null ? L("eventwait") : L("eventoff");
    note.hidden = !note.textContent;
  };
  const showEventTop = (ev) => {
    const box = $("eventtop");
    if (!box) return;
    box.hidden = !ev;
    if (!ev) return;
    setText("eventname", ev.event);
    showEventNote(ev);
    $("eventrows").replaceChildren(...(ev.rows || []).map(eventRow));
  };
  const fmtTime = (ms) => new Date(ms).toLocaleTimeString(lang === "en" ? "en-GB" : "ja-JP");

  // --- spoken speeds, switched per browser -------------------------------
  const speakBox = $("speak");
  const speakKey = "korvane.speak";
  if (speakBox) {
    speakBox.checked = localStorage.getItem(speakKey) === "1";
    speakBox.addEventListener("change", () => {
      localStorage.setItem(speakKey, speakBox.checked ? "1" : "0");
    });
  }
  // Only a speed the board showed is pushed, and it is spoken as shown.
  const say = (e) => {
    if (!speakBox || !speakBox.checked || !("speechSynthesis" in window) || !e.speed) return;
    const u = new SpeechSynthesisUtterance(lang === "en"
      ? e.speed + " kilometres per hour " + (e.name || "")
      : "時速 " + e.speed + " キロ " + (e.name || ""));
    u.lang = lang === "en" ? "en-GB" : "ja-JP";
    speechSynthesis.cancel();
    speechSynthesis.speak(u);
  };

  // A kiosk pinned to a class (/?class=NAME) shows that class's speeds and
  // top ten only.
  const pinned = $("pinned") ? $("pinned").dataset.class : null;
  const classUrl = (name, since) => "/api/ranking?class=" + encodeURIComponent(name) +
    (since != null ? "&since=" + encodeURIComponent(since) : "");

  // --- what each page does with the pushed news --------------------------
  let latestBest = null; // tpid of a new best still highlighted
  let bestTimer = 0;
  let top = [];
  const showTop = () => {
    const body = $("top");
    if (!body) return;
    body.replaceChildren(...top.map((r) => rankRow(r, latestBest)));
  };
  const showLatest = (e, fresh) => {
    const box = $("latest");
    if (!box || !e) return;
    box.hidden = false;
    setText("speed", e.speed);
    setText("tpid", e.tpid);
    setText("name", e.name);
    clearTimeout(bestTimer);
    box.classList.toggle("best", !!(fresh && e.best));
    latestBest = fresh && e.best ? e.tpid : null;
    if (latestBest) {
      bestTimer = setTimeout(() => { box.classList.remove("best"); latestBest = null; showTop(); }, 10000);
    }
    showTop();
  };
  const showLoops = (loops) => {
    const el = $("loops");
    if (!el || !loops) return;
    el.replaceChildren(...loops.map((l) => {
      const s = document.createElement("span");
      s.textContent = L("loop") + l.loop + ": " + L(l.state);
      if (l.state !== "open") s.className = "bad";
      return s;
    }));
  };

  let pinnedSeq = 0;
  const loadPinnedTop = () => {
    const seq = ++pinnedSeq;
    fetch(classUrl(pinned) + "&limit=10").then((r) => r.ok ? r.json() : null).then((p) => {
      if (!p || seq !== pinnedSeq) return;
      top = p.rows;
      showTop();
    }).catch(() => {});
  };
  const none = () => {};
  const handlers = {
    kiosk: pinned == null ? {
      speed: (e) => { showLatest(e, true); say(e); }, ranking: (rows) => { top = rows; showTop(); },
      event: showEventTop,
    } : {
      speed: (e) => { if (e.class !== pinned) return; showLatest(e, true); say(e); loadPinnedTop(); },
      ranking: loadPinnedTop, event: showEventTop,
    },
    overlay: { speed: (e) => showLatest(e, true), ranking: none, event: none },
    ranking: { speed: none, ranking: () => rankingPage.refreshIfTop(), event: (ev) => rankingPage.event(ev) },
    driver: {
      speed: (e) => { if (e.tpid === driverPage.tpid) driverPage.load(); }, ranking: none, event: none,
      record: (e) => { if (e.tpid === driverPage.tpid) driverPage.load(); },
    },
  };

  // --- the push socket: reconnects by itself and catches up --------------
  let lastSeq = 0;
  let retryMs = 500;
  const connect = () => {
    const h = handlers[page];
    if (!h || !("WebSocket" in window)) return;
    const ws = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/live");
    // Connected, but the results cannot be read: what is shown is older.
    const showAvailable = (available) => {
      setText("conn", L(available ? "online" : "unavailable"));
      $("conn") && $("conn").classList.toggle("off", !available);
    };
    ws.onopen = () => { retryMs = 500; showAvailable(true); };
    ws.onclose = () => {
      setText("conn", L("offline"));
      $("conn") && $("conn").classList.add("off");
      // Spread out, so that a crowd of pages dropped at once does not come
      // back at once.
      setTimeout(connect, retryMs * (0.5 + Math.random()));
      retryMs = Math.min(retryMs * 2, 5000);
    };
    ws.onmessage = (m) => {
      let msg;
      try { msg = JSON.parse(m.data); } catch (_) { return; }
      if (msg.type === "hello") {
        const all = msg.recent || [];
        const recent = pinned == null ? all : all.filter((e) => e.class === pinned);
        const newest = all.length ? all[all.length - 1].seq : 0;
        if (newest < lastSeq) lastSeq = 0; // the program was started again
        const missed = recent.filter((e) => e.seq > lastSeq);
        // Shown, not all spoken: only the newest of what was missed.
        if (missed.length) {
          missed.slice(0, -1).forEach((e) => { if (page === "driver") h.speed(e); });
          const last = missed[missed.length - 1];
          if (page === "kiosk" || page === "overlay") showLatest(last, lastSeq > 0 && last.best);
          else h.speed(last);
          lastSeq = newest;
        } else if (recent.length && lastSeq === 0) {
          showLatest(recent[recent.length - 1], false);
          lastSeq = newest;
        }
        h.ranking(msg.ranking || []);
        h.event(msg.event || null);
        showLoops(msg.decoders);
        showAvailable(msg.available !== false);
      } else if (msg.type === "status") {
        showAvailable(msg.available !== false);
      } else if (msg.type === "speed") {
        if (msg.seq <= lastSeq) return;
        lastSeq = msg.seq;
        h.speed(msg);
      } else if (msg.type === "ranking") {
        h.ranking(msg.rows || []);
      } else if (msg.type === "event") {
        h.event(msg);
      } else if (msg.type === "decoders") {
        showLoops(msg.loops);
      } else if (msg.type === "record") {
        if (h.record) h.record(msg);
      }
    };
  };

  // --- ranking page: pages of 50 from the server, searched there ---------
  // A tab per class (すべて first) when the station has classes; /ranking?class=NAME
  // opens on that class's tab, &since=UTC_MS ranks the attempts from then on.
  const pageQuery = new URLSearchParams(location.search);
  const rankingPage = {
    next: null, query: "", pages: 0, seq: 0,
    cls: pageQuery.get("class") || "", since: pageQuery.get("since"),
    load(more) {
      const seq = ++this.seq;
      const byClass = this.cls !== "" || this.since != null;
      // A class comes whole (it is no longer than its cars); the station's
      // ranking a page at a time.
      let url = (byClass ? classUrl(this.cls, this.since) + "&" : "/api/ranking?limit=50&") +
        "q=" + encodeURIComponent(this.query);
      if (more && this.next) url += "&after=" + encodeURIComponent(this.next);
      fetch(url).then((r) => r.json()).then((p) => {
        if (seq !== this.seq) return; // a newer search is under way
        if (!p.rows) p = { rows: [], next: null }; // a class gone meanwhile
        const body = $("rows");
        if (!more) { body.replaceChildren(); this.pages = 0; }
        p.rows.forEach((r) => body.appendChild(rankRow(r)));
        this.pages++;
        this.next = p.next;
        $("more").hidden = !p.next;
        $("empty").hidden = body.children.length > 0;
      }).catch(() => {});
    },
    classes(names) {
      const box = $("classtabs");
      box.hidden = !names.length;
      const tab = (label, name) => {
        const b = document.createElement("button");
        b.type = "button";
        b.textContent = label;
        b.classList.toggle("on", name === this.cls);
        b.addEventListener("click", () => {
          this.cls = name;
          box.querySelectorAll("button").forEach((o) => o.classList.toggle("on", o === b));
          this.load(false);
        });
        return b;
      };
      if (names.length) box.replaceChildren(tab(L("allclasses"), ""), ...names.map((n) => tab(n, n)));
      else box.replaceChildren();
    },
    refreshIfTop() { if (this.tab === "local" && this.pages <= 1) this.load(false); },
    // The all-stations tab, there while this station is in an event.
    tab: "local", eseq: 0,
    event(ev) {
      $("tabs").hidden = !ev;
      if (!ev && this.tab === "event") this.show("local");
      else if (ev && this.tab === "event") this.loadEvent();
      // /ranking#all opens on the all-stations tab (a projector's bookmark).
      else if (ev && location.hash === "#all" && !this.linked) { this.linked = true; this.show("event"); }
    },
    show(tab) {
      this.tab = tab;
      ++this.seq; // what the other tab was reading is not shown
      const onEvent = tab === "event";
      $("tablocal").classList.toggle("on", !onEvent);
      $("tabevent").classList.toggle("on", onEvent);
      $("localtable").hidden = onEvent;
      $("classtabs").hidden = onEvent || !$("classtabs").children.length;
      $("eventtable").hidden = !onEvent;
      $("more").hidden = true;
      $("empty").hidden = true;
      showEventNote(null);
      if (onEvent) this.loadEvent(); else this.load(false);
    },
    loadEvent() {
      const seq = ++this.eseq;
      fetch("/api/event-ranking").then((r) => r.ok ? r.json() : null).then((ev) => {
        if (seq !== this.eseq || this.tab !== "event") return;
        if (!ev) { this.event(null); return; }
        const q = this.query.toLowerCase();
        const rows = ev.rows.filter((r) => !q || r.tpid.toLowerCase().includes(q) ||
          (r.name || "").toLowerCase().includes(q));
        $("eventrows").replaceChildren(...rows.map(eventRow));
        showEventNote(ev);
        $("empty").hidden = rows.length > 0 || !ev.available;
      }).catch(() => { if (seq === this.eseq) showEventNote({ available: false, error: "" }); });
    },
  };
  if (page === "ranking") {
    let t = 0;
    $("search").addEventListener("input", (ev) => {
      clearTimeout(t);
      t = setTimeout(() => {
        rankingPage.query = ev.target.value.trim();
        if (rankingPage.tab === "event") rankingPage.loadEvent(); else rankingPage.load(false);
      }, 250);
    });
    $("tablocal").addEventListener("click", () => rankingPage.show("local"));
    $("tabevent").addEventListener("click", () => rankingPage.show("event"));
    $("more").addEventListener("click", () => rankingPage.load(true));
    rankingPage.load(false);
    fetch("/api/classes").then((r) => r.ok ? r.json() : null)
      .then((c) => { if (c) rankingPage.classes(c.classes || []); }).catch(() => {});
  }

  // --- driver page: attempts and a small chart ---------------------------
  const svgNs = "http://www.w3.org/2000/svg";
  const svg = (name, attrs) => {
    const el = document.createElementNS(svgNs, name);
    Object.entries(attrs).forEach(([k, v]) => el.setAttribute(k, v));
    return el;
  };
  const driverPage = {
    tpid: page === "driver" ? decodeURIComponent(location.pathname.slice("/driver/".length)) : null,
    load() {
      fetch("/api/driver/" + encodeURIComponent(this.tpid)).then((r) => r.ok ? r.json() : null).then((d) => {
        setText("tpid", this.tpid);
        document.title = "Korvane " + this.tpid;
        if (!d) { $("empty").hidden = false; return; }
        setText("name", d.name);
        setText("best", d.best);
        const body = $("attempts");
        body.replaceChildren(...d.attempts.slice().reverse().map((a) => {
          const tr = document.createElement("tr");
          cell(tr, fmtTime(a.at));
          cell(tr, a.u ? a.speed + " ± " + a.u : a.speed, "speed");
          return tr;
        }));
        this.record(d.record);
        $("empty").hidden = d.attempts.length > 0;
        this.chart(d.attempts);
      }).catch(() => {});
    },
    // The record attempt: its first run, the time left for the return run,
    // or its result; the window's end ticks down between loads.
    record(r) {
      const box = $("record");
      if (!box) return;
      clearInterval(this.timer);
      if (!r) { box.hidden = true; return; }
      const show = () => {
        const left = Math.max(0, (r.until || 0) - Date.now());
        const state = r.state === "waiting" && left === 0 ? "expired" : r.state;
        const mins = Math.floor(left / 60000), secs = Math.floor(left / 1000) % 60;
        box.textContent = L("rec" + state).replace("{first}", r.first || "")
          .replace("{result}", r.result || "").replace("{left}", mins + ":" + String(secs).padStart(2, "0")) +
          (r.reason && state !== "completed" ? " — " + r.reason : "");
      };
      box.hidden = false;
      show();
      if (r.state === "waiting") this.timer = setInterval(show, 1000);
    },
    chart(attempts) {
      const box = $("chart");
      box.replaceChildren();
      const pts = attempts.filter((a) => isFinite(a.kmh));
      if (!pts.length) return;
      const W = 800, H = 220, pad = 30;
      const max = Math.max(...pts.map((a) => a.kmh)) * 1.1 || 1;
      const x = (i) => pad + (pts.length === 1 ? (W - 2 * pad) / 2 : i * (W - 2 * pad) / (pts.length - 1));
      const y = (v) => H - pad - v / max * (H - 2 * pad);
      [0, 0.5, 1].forEach((f) => {
        box.appendChild(svg("line", { x1: pad, x2: W - pad, y1: y(max * f / 1.1), y2: y(max * f / 1.1) }));
        const t = svg("text", { x: 2, y: y(max * f / 1.1) + 4 });
        t.textContent = (max * f / 1.1).toFixed(0);
        box.appendChild(t);
      });
      box.appendChild(svg("polyline", { points: pts.map((a, i) => x(i) + "," + y(a.kmh)).join(" ") }));
      pts.forEach((a, i) => box.appendChild(svg("circle", { cx: x(i), cy: y(a.kmh), r: 4 })));
    },
  };
  if (page === "driver") driverPage.load();

  // --- share page: each address phones can open as a QR code (qr.js,
  // written for Korvane); none when only this PC can open the page --------
  if (page === "share" && window.KorvaneQr) {
    const urls = (document.body.dataset.urls || "").split(" ").filter((u) => u);
    $("codes").replaceChildren(...urls.map((url) => {
      const m = KorvaneQr.encode(url);
      const c = document.createElement("canvas");
      const scale = 8, quiet = 4, n = m.length + 2 * quiet;
      c.width = c.height = n * scale;
      const g = c.getContext("2d");
      g.fillStyle = "#fff";
      g.fillRect(0, 0, c.width, c.height);
      g.fillStyle = "#000";
      m.forEach((row, yy) => row.forEach((dark, xx) => {
        if (dark) g.fillRect((xx + quiet) * scale, (yy + quiet) * scale, scale, scale);
      }));
      c.title = url;
      return c;
    }));
  }

  connect();
})();

"use strict";
// Draws a production run: the profile, Start and Stop, what the worker is to do now, the
// last driver's result in large type, the counts and the list of the run. Every text from a
// driver or a file goes in as text.
(function (global) {
  const { el } = global.WyView;
  const { timeText, PROGRAMMED } = global.WyProduction;

  const $ = (id) => document.getElementById(id);
  const RESULT_WORD = { programmed: "Programmed", refused: "Refused", failed: "Failed", again: "Already done" };

  function uidText(uid) {
    return uid || "UID unknown";
  }

  class ProductionView {
    constructor(run) {
      this.run = run;
      this.shownRows = 0;
      this.focusStartAtEnd = false;
    }

    stopPressed() {
      this.focusStartAtEnd = true;
    }

    draw() {
      const run = this.run;
      const profile = run.profile;
      $("production-profile").textContent = profile ? profile.file.split("/").pop() : "None chosen yet";
      $("production-profile").title = profile ? profile.file : "";
      $("production-profile-detail").textContent = profile
        ? profile.settings + (profile.settings === 1 ? " setting" : " settings") + " in " + profile.areas +
          (profile.areas === 1 ? " group" : " groups")
        : "The profile is a file saved with Export in the editor.";
      $("production-choose").disabled = run.running || run.choosing;
      $("production-start").disabled = run.running || !profile || run.choosing;
      $("production-start").hidden = run.running;
      $("production-stop").hidden = !run.running;
      if (this.focusStartAtEnd && !run.running) { // Stop was pressed and has gone: Start takes the focus
        this.focusStartAtEnd = false;
        $("production-start").focus();
      }
      $("production-stop").disabled = run.stopping;
      $("production-stop").textContent = run.stopping ? "Stopping\u2026" : "Stop";
      $("production-problem").textContent = run.profileProblem;
      $("production-problem").hidden = !run.profileProblem;

      let note = run.note;
      if (!run.running && !note) note = profile ? "Press Start, then lay the first driver on the reader." : "Choose the profile to write to every driver.";
      $("production-note").textContent = note;
      $("production-note").classList.toggle("active", run.running);

      this.drawResult();
      $("count-programmed").textContent = run.counts.programmed;
      $("count-refused").textContent = run.counts.refused;
      $("count-failed").textContent = run.counts.failed;
      this.drawList();
    }

    drawResult() {
      const last = this.run.last;
      const card = $("production-result");
      card.className = "result-card " + (last ? (last.result === PROGRAMMED ? "good" : "bad") : "idle");
      card.dataset.result = last ? last.result : "";
      $("production-result-word").textContent = last ? RESULT_WORD[last.result] : "No driver yet";
      $("production-result-uid").textContent = last ? "Driver " + uidText(last.uid) + " \u00b7 " + timeText(last.time) : "";
      $("production-result-reason").textContent = last ? last.reason : "The result of each driver shows here.";
    }

    // The list, newest first; rows once drawn stay as they are.
    drawList() {
      const records = this.run.records;
      const body = $("production-list").querySelector("tbody");
      if (records.length < this.shownRows) {
        body.textContent = "";
        this.shownRows = 0;
      }
      for (const record of records.slice(this.shownRows)) {
        const row = el("tr", { className: "row-" + record.result, "data-result": record.result, "data-uid": record.uid || "" },
          el("td", { text: String(record.number) }),
          el("td", { text: timeText(record.time) }),
          el("td", { className: "uid", text: uidText(record.uid) }),
          el("td", { className: "result", text: RESULT_WORD[record.result] }),
          el("td", { className: "seconds", text: record.seconds.toFixed(1) }),
          el("td", { className: "details", text: record.reason }));
        body.insertBefore(row, body.firstChild);
      }
      this.shownRows = records.length;
      $("production-list").hidden = records.length === 0;
      $("production-empty").hidden = records.length !== 0;
    }
  }

  global.WyProductionView = { ProductionView };
})(window);

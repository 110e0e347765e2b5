;;; eglot_test.el --- Emacs with eglot, in batch, against qevcheck --lsp.
;; Loads the README's snippet from $SNIPPET, opens $QEV_FILE, waits for the
;; diagnostics and applies the one quick fix on line $FIX_LINE (from 1),
;; then writes what it saw to $RESULT as JSON for editors.py to compare.
(require 'json)
(require 'eglot)
(load (getenv "SNIPPET"))

(defvar qev-test-result nil)

(defun qev-test-finish (failed)
  (when failed
    (push (cons 'failed failed) qev-test-result))
  (with-temp-file (getenv "RESULT")
    (insert (json-encode qev-test-result)))
  (kill-emacs 0))

(defun qev-test-diagnostics ()
  "Each diagnostic flymake holds: its line and column from 1, and text."
  (sort (mapcar (lambda (d)
                  (save-excursion
                    (goto-char (flymake-diagnostic-beg d))
                    (vector (line-number-at-pos) (1+ (current-column))
                            (flymake-diagnostic-text d))))
                (flymake-diagnostics))
        (lambda (a b) (or (< (aref a 0) (aref b 0))
                          (and (= (aref a 0) (aref b 0)) (string< (aref a 2) (aref b 2)))))))

(defun qev-test-wait (what test)
  "Lets eglot and flymake work until TEST holds, for 20 seconds at most."
  (let ((until (+ (float-time) 20)))
    (while (and (not (funcall test)) (< (float-time) until))
      (accept-process-output nil 0.05)
      (when (bound-and-true-p flymake-mode)
        (flymake-start)))
    (unless (funcall test)
      (qev-test-finish (concat "timed out waiting for " what)))))

(find-file (getenv "QEV_FILE"))
(push (cons 'mode (symbol-name major-mode)) qev-test-result)
;; eglot-ensure connects after the next command, which batch never runs.
(run-hooks 'post-command-hook)
(qev-test-wait "diagnostics" (lambda () (flymake-diagnostics)))
(push (cons 'opened (vconcat (qev-test-diagnostics))) qev-test-result)

(let ((before (qev-test-diagnostics)))
  (goto-char (point-min))
  (forward-line (1- (string-to-number (getenv "FIX_LINE"))))
  (eglot-code-actions (line-beginning-position) (line-end-position) "quickfix" t)
  ;; Saving sends the change at once, where eglot would wait for idle time,
  ;; which batch never has.
  (save-buffer)
  (qev-test-wait "diagnostics after the fix"
                 (lambda () (not (equal before (qev-test-diagnostics))))))
(push (cons 'fixed_text (buffer-substring-no-properties (point-min) (point-max)))
      qev-test-result)
(push (cons 'fixed (vconcat (qev-test-diagnostics))) qev-test-result)
(qev-test-finish nil)

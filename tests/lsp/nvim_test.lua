-- Neovim, headless, as a user would work with the language server: open a
-- file, wait for its diagnostics, read a hover, apply a quick fix and edit a
-- line, seeing the diagnostics follow. What it saw goes to $RESULT as JSON,
-- which editors.py compares with qevcheck's own output.
local result = { steps = {} }

-- Each publication of diagnostics, counted, so that a wait can tell a new one.
local published = 0
vim.api.nvim_create_autocmd("DiagnosticChanged", {
  callback = function() published = published + 1 end,
})

local function diagnostics(buf)
  local all = {}
  for _, d in ipairs(vim.diagnostic.get(buf)) do
    table.insert(all, { lnum = d.lnum, col = d.col, code = d.code, message = d.message,
                        related = #((d.user_data.lsp or {}).relatedInformation or {}) })
  end
  table.sort(all, function(a, b)
    return a.lnum < b.lnum or (a.lnum == b.lnum and a.message < b.message)
  end)
  return all
end

local function finish()
  local f = io.open(os.getenv("RESULT"), "w")
  f:write(vim.fn.json_encode(result))
  f:close()
  vim.cmd("qall!")
end

local function wait_for(what, cond)
  if not vim.wait(20000, cond, 20) then
    result.failed = "timed out waiting for " .. what
    finish()
  end
  table.insert(result.steps, what)
end

vim.cmd("edit " .. vim.fn.fnameescape(os.getenv("QEV_FILE")))
local buf = vim.api.nvim_get_current_buf()
wait_for("diagnostics", function() return #vim.diagnostic.get(buf) > 0 end)
result.filetype = vim.bo[buf].filetype
result.opened = diagnostics(buf)
local client = vim.lsp.get_active_clients()[1]
result.encoding = client.offset_encoding

local hover = vim.lsp.buf_request_sync(buf, "textDocument/hover",
  { textDocument = { uri = vim.uri_from_bufnr(buf) }, position = { line = 4, character = 0 } }, 10000)
result.hover = hover[client.id].result.contents.value

-- The quick fix of the first finding that has a safe one.
local line = tonumber(os.getenv("FIX_LINE"))
local actions = vim.lsp.buf_request_sync(buf, "textDocument/codeAction", {
  textDocument = { uri = vim.uri_from_bufnr(buf) },
  range = { start = { line = line, character = 0 }, ["end"] = { line = line, character = 0 } },
  context = { diagnostics = {}, only = { "quickfix" } },
}, 10000)[client.id].result
result.action = actions[1].title
local seen = published
vim.lsp.util.apply_workspace_edit(actions[1].edit, client.offset_encoding)
wait_for("diagnostics after the fix", function() return published > seen end)
result.fixed_text = table.concat(vim.api.nvim_buf_get_lines(buf, 0, -1, true), "\n") .. "\n"
result.fixed = diagnostics(buf)

-- A line typed over, as the user would, with the diagnostics following.
seen = published
vim.api.nvim_buf_set_lines(buf, 2, 3, true, { os.getenv("NEW_LINE") })
wait_for("diagnostics after an edit", function() return published > seen end)
result.edited_text = table.concat(vim.api.nvim_buf_get_lines(buf, 0, -1, true), "\n") .. "\n"
result.edited = diagnostics(buf)
finish()

// The query component and the data set of its direct route.
#include "kvo/client/tarvo_query.h"

#include "client/ib_access.h"
#include "client/param_values.h"
#include "fb/fb.h"
#include "fbpacket/fb_packet.h"
#include "packet/packet.h"
#include "platform/ascii.h"
#include "sqltext/scanner.h"

namespace kvo::client {

namespace {

fb::Date FbDate(const TDate& d) {
  return fb::Date{d.Year, d.Month, d.Day};
}
fb::Time FbTime(const TTime& t) {
  return fb::Time{t.Hour, t.Minute, t.Second, t.Fraction};
}

// The value of a parameter as the Firebird layer binds it; the layer converts it to the
// marker's declared type as the server converts literals.
fb::Value BindValue(const TParam& param) {
  if (param.IsNull()) return std::monostate{};
  const TVariant& v = param.Value();
  switch (param.DataType) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftLargeint:
    case TFieldType::ftAutoInc:
      return fb::Scaled{VariantToInteger(v), 0};
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
      return FiniteParamFloat(param);
    case TFieldType::ftDate:
      return FbDate(VariantToDateTime(v).Date);
    case TFieldType::ftTime:
      return FbTime(VariantToDateTime(v).Time);
    case TFieldType::ftDateTime:
    case TFieldType::ftTimeStamp: {
      TDateTime dt = VariantToDateTime(v);
      return fb::Timestamp{FbDate(dt.Date), FbTime(dt.Time)};
    }
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftBlob:
    case TFieldType::ftGraphic:
      return fb::Bytes{VariantToText(v)};
    default:
      break;
  }
  // Other types go by the kind of value they hold.
  if (std::holds_alternative<bool>(v)) return std::get<bool>(v);
  if (std::holds_alternative<int64_t>(v)) return fb::Scaled{std::get<int64_t>(v), 0};
  if (std::holds_alternative<double>(v)) return FiniteParamFloat(param);
  if (std::holds_alternative<TDateTime>(v)) {
    const TDateTime& dt = std::get<TDateTime>(v);
    if (dt.Date == TDate{}) return FbTime(dt.Time);
    return fb::Timestamp{FbDate(dt.Date), FbTime(dt.Time)};
  }
  return std::get<std::string>(v);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

struct TIBClientDataSet::Bound {
  std::string sql;
  std::vector<fb::Value> values;
};

TIBClientDataSet::Bound TIBClientDataSet::Bind() const {
  if (!DBConnection) throw Error(NamePrefix() + "No database assigned");
  if (!DBTransaction) throw Error(NamePrefix() + "No transaction assigned");
  // The layer binds by position: each marker becomes "?" with its parameter's value. The rest
  // of the statement goes to the server as written, comments and line breaks included.
  Bound bound;
  size_t done = 0;
  for (const sqltext::Marker& m : sqltext::FindMarkers(CommandText)) {
    const TParam* param = nullptr;
    for (const TParam& p : Params) {
      if (platform::SameTextAscii(p.Name, m.name)) {
        param = &p;
        break;
      }
    }
    if (!param) throw Error(NamePrefix() + "Parameter '" + m.name + "' not found");
    bound.values.push_back(BindValue(*param));
    bound.sql.append(CommandText, done, m.start - done);
    bound.sql += '?';
    done = m.end;
  }
  bound.sql.append(CommandText, done);
  return bound;
}

void TIBClientDataSet::Open() {
  if (Active()) return;
  Bound bound = Bind();
  TIBTransaction& transaction = *DBTransaction;
  if (!transaction.InTransaction()) transaction.StartTransaction();
  fb::Transaction& handle = detail::IBAccess::Transaction(transaction);
  fb::Statement statement = detail::IBAccess::Attachment(*DBConnection).Prepare(handle, bound.sql);
  if (!statement.HasCursor()) {
    throw ENoResultSet(NamePrefix() + "The statement returns no result set");
  }
  statement.LookupPrecisions(handle);
  fb::ResultSet rows = statement.Open(bound.values);
  auto packet = std::make_shared<const packet::Packet>(fbpacket::BuildPacket(rows));
  rows.Close();
  SetPacket(std::move(packet));
}

void TIBClientDataSet::Execute() {
  Bound bound = Bind();
  TIBTransaction& transaction = *DBTransaction;
  if (!transaction.InTransaction()) transaction.StartTransaction();
  fb::Transaction& handle = detail::IBAccess::Transaction(transaction);
  fb::Statement statement = detail::IBAccess::Attachment(*DBConnection).Prepare(handle, bound.sql);
  if (statement.HasCursor()) {
    statement.Open(bound.values).Close();
  } else {
    statement.Execute(bound.values);
  }
}

// ---------------------------------------------------------------------------------------------

TTarvoIBQuery::TTarvoIBQuery(TComponent* owner)
    : TKVOAppDataSet(owner), directDataSet_(std::make_unique<TIBClientDataSet>(this)) {
  sql_.OnChange = [this] { RebuildParams(); };
  ReadOnly = true;
}

TTarvoIBQuery::~TTarvoIBQuery() = default;

void TTarvoIBQuery::SetSQL(const TStringList& lines) {
  if (lines.Text() == sql_.Text()) return;
  sql_.Assign(lines);
}

void TTarvoIBQuery::RebuildParams() {
  // A new statement ends the life of the fields of the old one (see TField).
  ReleaseStaleFields();
  Params.Clear();
  for (sqltext::Marker& m : sqltext::FindMarkers(sql_.Text())) {
    Params.CreateParam(TFieldType::ftUnknown, std::move(m.name), TParamType::ptUnknown);
  }
}

void TTarvoIBQuery::OpenRemote() {
  if (!Database) throw Error(NamePrefix() + "No database assigned");
  auto* db = dynamic_cast<TTarvoIBDatabase*>(Database);
  if (!db) throw Error(NamePrefix() + "The remote route needs a multi-tier database");
  const TTarvoMultiTierProps& bag = db->TarvoMultiTierProps();
  URL = bag.URL;
  DataBaseName = db->DatabaseName;
  WebServer = bag.WebServer;
  AltWebServer = bag.AltWebServer;
  User = db->Params.Values("user_name");
  Password = db->Params.Values("password");
  ProxyHost = bag.ProxyHost;
  ProxyPass = bag.ProxyPass;
  ProxyPort = bag.ProxyPort;
  ProxyUser = bag.ProxyUser;
  UseProxy = bag.UseProxy;
  Compressed = bag.Compressed;
  RunRemote(sql_.Text(), bag.ShowWait);
}

void TTarvoIBQuery::OpenQuery() {
  if (!Database) throw Error(NamePrefix() + "No database assigned");
  auto* multiTier = dynamic_cast<TTarvoIBDatabase*>(Database);
  if (multiTier && multiTier->TarvoMultiTierProps().Active) {
    OpenRemote();
  } else {
    if (!Transaction) throw Error(NamePrefix() + "No transaction assigned");
    if (!Database->Connected()) Database->SetConnected(true);
    TIBClientDataSet& direct = *directDataSet_;
    direct.Close();
    direct.DBConnection = Database;
    direct.DBTransaction = Transaction;
    direct.CommandText = sql_.Text();
    direct.Params.Clear();
    for (const TParam& p : Params) {
      direct.Params.CreateParam(p.DataType, p.Name, p.ParamType).SetValue(p.Value());
    }
    direct.Open();
    CopyDataFrom(direct);
    // The base type on purpose: the direct route always gets the base transaction rules.
    TIBTransaction& transaction = *Transaction;
    transaction.Commit();
    transaction.SetActive(false);
    direct.Close();
  }
  Open();
}

}  // namespace kvo::client
